#pragma once

#include "common/burst_schedule.h"
#include "common/wav_header.h"

#include <iosfwd>

/// What every reader of a recording does first: fills `schedule` from the
/// command line, tests that `in` was opened, and reads the 44-byte header.
/// Returns exitOk, or exitUsage, exitOpen or exitHeader (the data ended, or
/// a read failed, before byte 44) after writing the usage or failure
/// message to `errors`.
int readRecordingStart(int argc, const char* const* argv, const char* synopsis, std::istream& in,
                       BurstSchedule& schedule, WavHeader& header, std::ostream& errors);

/// Writes the one-line warning when `header` does not describe what the
/// generator writes; the samples are read as 16-bit stereo frames anyway.
void warnAboutForeignHeader(const WavHeader& header, std::ostream& errors);
