#pragma once

#include <iosfwd>

/// ravsim's main flow: plays the generator's file through the simulated
/// device that the options describe and writes the recording, streamed, so
/// memory stays bounded whatever the file's length. Returns an ExitCode:
/// exitUsage for a bad option (one line naming it), exitOpen when the input
/// cannot be read, exitHeader when it holds no 44-byte header, exitStreamFailed
/// when the output cannot be written.
int runSimulator(int argc, const char* const* argv, std::ostream& report, std::ostream& errors);
