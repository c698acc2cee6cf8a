#pragma once

#include "common/burst_schedule.h"
#include "common/option_rule.h"
#include "locator/timing_solution.h"

#include <string>
#include <vector>

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

    /// The rules of --channels and --reference.
    static std::vector<OptionRule> rules();

    /// Whether `name` is --channels or --reference.
    static bool owns(const std::string& name);

    /// Takes a value of --channels or --reference that its rule admitted.
    void take(const std::string& name, const std::string& value);
};
