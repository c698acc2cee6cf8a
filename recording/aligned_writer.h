#pragma once

#include "audio/sound_file.h"
#include "locator/step_judgement.h"
#include "locator/step_table.h"

#include <cstdint>
#include <functional>
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
    /// Frames that no line of the recording holds (lost at a jump): written
    /// as silence, nothing read.
    bool silent = false;
};

/// What writing the aligned file saw.
struct AlignedOutput {
    std::int64_t clipped[2] = {0, 0};  ///< samples beyond the 16-bit range, clipped
    std::int64_t nonzero[2] = {0, 0};  ///< samples that are not 0 after rounding
};

/// Receives the aligned frames in order: `count` interleaved pairs from
/// output frame `first` on, as converted (not rounded, not clipped).
/// Returns false to stop reading.
using AlignedSink = std::function<bool(std::int64_t first, const double* pairs, std::int64_t count)>;

/// Reads the frames of `stretches` (in order, end to end) from `inputs`
/// (0-based channels) of `file` into `sink`, reading the recording again
/// from where each stretch needs it; samples that are not finite numbers
/// arrive as 0. Returns false, with `error` set, when reading or
/// converting fails; true when the stretches are done or `sink` stopped.
bool readAlignedFrames(SoundFile& file, const int (&inputs)[2], const std::vector<OutputStretch>& stretches,
                       const AlignedSink& sink, std::string& error);

/// Writes the 16-bit frames of `stretches` (in order, end to end) to `out`
/// from `inputs` (0-based channels) of `file`, reading the recording again
/// from where each stretch needs it. Steps that `verdict` calls damaged on
/// a channel are written as digital silence there, and samples that are
/// not finite numbers as 0. Returns false, with `error` set, when reading
/// or converting fails.
bool writeAlignedFrames(SoundFile& file, const int (&inputs)[2], const std::vector<OutputStretch>& stretches,
                        const StepTable& table, const StepVerdict& verdict, std::ostream& out,
                        AlignedOutput& output, std::string& error);
