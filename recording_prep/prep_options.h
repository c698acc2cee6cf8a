#pragma once

#include "burst_schedule.h"
#include "timing_solution.h"

#include <iosfwd>
#include <string>
#include <vector>

/// What follows "Useage: " in ravprep's usage message.
constexpr const char* prepSynopsis =
    "ravprep recording aligned.wav [delay [numAvg [startFreq [sweep|polar]]]] [--channels A,B] "
    "[--reference 1|2|none]";

/// ravprep's command line: two file names, the generator's positional
/// values, and two options anywhere after the program name.
struct PrepOptions {
    std::string recording;
    std::string aligned;
    BurstSchedule schedule;
    int channelA = 1, channelB = 2;   ///< input channels that become 1 and 2
    bool channelsGiven = false;
    ReferenceChoice reference = ReferenceChoice::automatic;
    bool referenceGiven = false;

    /// Reads the command line. Returns exitOk, or exitUsage after writing
    /// the usage message (preceded, for a refused value, by a line naming
    /// it) to `errors`. The positional values follow ravgen's rules.
    int read(int argc, const char* const* argv, std::ostream& errors);
};
