#pragma once

#include <iosfwd>

/// The analyzer's main flow: reads the command line, then the recording
/// from `in` (opened by the caller in binary mode, in the fail state when
/// the open failed), and prints the run header, the header dumps, the
/// settings, the column header and one measured row per step to `report`.
/// Failure messages and the header warning go to `errors`. Returns an
/// ExitCode: exitUsage, exitOpen, exitHeader, or exitStreamFailed when the data end
/// before a step.
int runAnalyzer(int argc, const char* const* argv, std::istream& in, std::ostream& report,
                std::ostream& errors);
