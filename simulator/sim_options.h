#pragma once

#include "common/option_reader.h"
#include "simulator/simulated_path.h"

#include <iosfwd>
#include <string>

/// ravsim's synopsis and options.
const OptionTable& simOptionTable();

/// ravsim's command line: the two files and the simulated path they ask for.
struct SimOptions {
    std::string input;
    std::string output;
    SimulatedPath path;

    /// Reads argv[1..]; on a bad option or value writes one line naming it
    /// and why, then the usage message, and returns exitUsage.
    int read(int argc, const char* const* argv, std::ostream& errors);
};
