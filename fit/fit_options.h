#pragma once

#include "common/option_reader.h"
#include "recording/recording_options.h"

#include <iosfwd>
#include <string>

/// ravfit's synopsis and options.
const OptionTable& fitOptionTable();

/// ravfit's command line: the recording, the generator's positional
/// values, and options anywhere after the program name.
struct FitOptions {
    RecordingOptions input;
    double gateMs = 0;        ///< a fixed window from each channel's arrival; 0 for the frequency's own
    int pointsPerOctave = 0;  ///< rows on a log grid; 0 for one row per step
    std::string impulseFile;  ///< where to write the impulse responses; empty for nowhere

    /// Reads the command line. Returns exitOk, or exitUsage after writing
    /// the usage message (preceded, for a refused value, by a line naming
    /// it) to `errors`. The positional values follow ravgen's rules.
    int read(int argc, const char* const* argv, std::ostream& errors);
};
