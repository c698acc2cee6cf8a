#pragma once

#include "common/option_reader.h"
#include "recording/recording_options.h"

#include <iosfwd>
#include <string>

/// ravprep's synopsis and options.
const OptionTable& prepOptionTable();

/// ravprep's command line: two file names, the generator's positional
/// values, and two options anywhere after the program name.
struct PrepOptions {
    RecordingOptions input;
    std::string aligned;

    /// Reads the command line. Returns exitOk, or exitUsage after writing
    /// the usage message (preceded, for a refused value, by a line naming
    /// it) to `errors`. The positional values follow ravgen's rules.
    int read(int argc, const char* const* argv, std::ostream& errors);
};
