#pragma once

#include "sound_file.h"
#include "step_judgement.h"
#include "step_table.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

/// How one stretch of the aligned file is taken from the recording: output
/// frame j of [firstFrame, endFrame) is channel c's input at
/// start[c] + ratio * (j - firstFrame).
struct OutputStretch {
    std::int64_t firstFrame = 0;
    std::int64_t endFrame = 0;
    double ratio = 1;
    double start[2] = {0, 0};
};

/// What writing the aligned file saw.
struct AlignedOutput {
    std::int64_t clipped[2] = {0, 0};  ///< samples beyond the 16-bit range, clipped
    std::int64_t nonzero[2] = {0, 0};  ///< samples that are not 0 after rounding
};

/// Writes the 16-bit frames of `stretches` (in order, end to end) to `out`
/// from `inputs` (0-based channels) of `file`, reading the recording again
/// from where each stretch needs it. Steps that `verdict` calls damaged on
/// a channel are written as digital silence there, and samples that are
/// not finite numbers as 0. Returns false, with `error` set, when reading
/// or converting fails.
bool writeAlignedFrames(SoundFile& file, const int (&inputs)[2], const std::vector<OutputStretch>& stretches,
                        const StepTable& table, const StepVerdict& verdict, std::ostream& out,
                        AlignedOutput& output, std::string& error);
