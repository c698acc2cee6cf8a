#pragma once

#include "locator/findings.h"
#include "locator/step_table.h"

#include <string>

/// What a program adds to a finding's sentence: the options it has.
struct FindingVoice {
    /// Where no channel looks like a loopback, before "check the wiring"
    /// (empty for a program that cannot be told so).
    std::string noLoopbackHint;
    /// Where the loopback varies, after "check the wiring" (empty for none).
    std::string loopbackHint;
    /// Where the recording plays at another speed, after the rates (empty
    /// for a program that reads any rate).
    std::string rateHint;
};

/// The finding as one line for the user, about the run `table` the
/// arguments give, with `voice`'s options.
std::string findingText(const Finding& finding, const StepTable& table, const FindingVoice& voice);
