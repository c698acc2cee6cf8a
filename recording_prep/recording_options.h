#pragma once

#include "burst_schedule.h"
#include "timing_solution.h"

#include <string>

/// What every program that reads a recording is told about it: its name,
/// the generator's positional values, and the two options that pick its
/// channels and its loopback.
struct RecordingOptions {
    std::string recording;
    BurstSchedule schedule;
    int channelA = 1, channelB = 2;   ///< input channels that become 1 and 2
    bool channelsGiven = false;
    ReferenceChoice reference = ReferenceChoice::automatic;
    bool referenceGiven = false;

    /// Whether `name` is --channels or --reference.
    static bool owns(const std::string& name);

    /// Takes the value of --channels or --reference. False, with `refusal`
    /// set to the line that says why, when the value is refused.
    bool take(const std::string& name, const std::string& value, std::string& refusal);
};
