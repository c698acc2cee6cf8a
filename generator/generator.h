#pragma once

#include <iosfwd>

/// The generator's main flow: reads the command line, writes the tone-burst
/// file it names, and prints the run header, settings, column header and one
/// row per step to `report`. Failure messages go to `errors`. Returns an
/// ExitCode: exitUsage, exitOpen, exitHeader, or exitStreamFailed when a write
/// failed (found at the top of a step, or when the file is closed).
int runGenerator(int argc, const char* const* argv, std::ostream& report, std::ostream& errors);
