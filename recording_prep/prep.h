#pragma once

#include <iosfwd>

/// ravprep's main flow: reads the command line, the recording named there
/// (any format libsndfile reads), finds every step's burst on both chosen
/// channels, and writes the aligned 16-bit stereo 44100 Hz file that ravan
/// reads with the generator's arguments, each channel resampled by the
/// measured clock and shifted so that its first burst starts at frame
/// `delay`. Prints the run header, the settings and what it found and did
/// to `report`. Returns an ExitCode: exitUsage, exitOpen (the recording
/// cannot be opened or decoded, or the output cannot be created), exitSteps
/// (a read or write failed), exitNotFound (no burst on either channel) or
/// exitMismatch (the clock is more than 1000 ppm off).
int runPrep(int argc, const char* const* argv, std::ostream& report, std::ostream& errors);
