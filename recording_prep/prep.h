#pragma once

#include <iosfwd>

/// ravprep's main flow: reads the command line, the recording named there
/// (any format libsndfile reads, from a file that can be read twice), finds
/// every step's burst on both chosen channels, judges every step, and
/// writes the aligned 16-bit stereo 44100 Hz file that ravan reads with the
/// generator's arguments: each stretch of the recording between jumps
/// resampled by its own measured clock and shifted so that each channel's
/// first burst starts at frame `delay`, damaged steps written as silence.
/// The file is written beside its name and renamed into place when whole.
/// Prints the run header, the settings and, unless it refuses, what it
/// found and did to `report`. Returns an ExitCode: exitUsage, exitOpen (the
/// recording cannot be opened, decoded or read twice, or the output cannot
/// be created), exitStreamFailed (a read or write failed), exitNotFound (no burst
/// on either channel) or exitMismatch (the recording does not follow the
/// schedule, plays at the wrong speed, or has more than 5 % of a channel's
/// steps damaged).
int runPrep(int argc, const char* const* argv, std::ostream& report, std::ostream& errors);
