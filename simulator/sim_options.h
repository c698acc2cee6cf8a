#pragma once

#include "simulated_path.h"

#include <cstdint>
#include <iosfwd>
#include <string>

constexpr const char* simulatorSynopsis =
    "ravsim in.wav out.wav [--latency N] [--gain DB] [--invert] [--noise DB] [--lowpass HZ | --highpass HZ"
    " | --peaking HZ,Q,DB] [--q Q] [--delay N] [--device-on 1|2|both] [--cardioid START]";

/// ravsim's command line: the two files and the simulated path they ask for.
struct SimOptions {
    std::string input;
    std::string output;
    SimulatedPath path;

    /// Reads argv[1..]; on a bad option or value writes one line naming it
    /// and why, then the usage message, and returns exitUsage.
    int read(int argc, const char* const* argv, std::ostream& errors);
};
