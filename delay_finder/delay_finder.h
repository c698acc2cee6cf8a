#pragma once

#include <iosfwd>

/// ravdelay's main flow: reads the command line (the generator's delay,
/// numAvg, start frequency and mode), then the recording from `in` (opened
/// by the caller in binary mode, in the fail state when the open failed),
/// and finds the frame where the first step's burst begins on each channel.
/// Prints the run header, the settings, a line per channel and the answer
/// "delay:\t<frame>" to `report`. Returns an ExitCode: exitUsage, exitOpen,
/// exitHeader, exitStreamFailed when a read fails during the search, or
/// exitNotFound when neither channel holds the burst.
int runDelayFinder(int argc, const char* const* argv, std::istream& in, std::ostream& report,
                   std::ostream& errors);
