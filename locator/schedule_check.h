#pragma once

#include "locator/findings.h"
#include "locator/timing_solution.h"

#include <optional>
#include <vector>

/// Tests what the locator found against the schedule of the arguments.
/// Returns why the recording does not follow it (a wrong speed, start
/// frequency, numAvg or mode, a recording that started late or ends
/// early), or nothing when it does. `inputFrames` is how many frames the
/// recording holds.
std::optional<Finding> scheduleFinding(const BurstLocator& locator, const TimingSolution& timing,
                                       double inputFrames, double inputRate);

/// A recording that plays faster or slower than it was made (a sample
/// rate that is not the one recorded at): the first two loud sounds lie
/// further apart than the schedule's bursts by the factor by which their
/// frequency is lower. Nothing when it plays at its speed. `inputRate` is
/// the rate the file states.
std::optional<Finding> speedFinding(const BurstLocator& locator, double inputRate);

/// What is worth telling about a recording that follows the schedule
/// (clipping, a weak channel, the wiring, a loopback that is not one, an
/// inverted device). `referenceNone` is true when the user said there is
/// no loopback.
std::vector<Finding> recordingFindings(const BurstLocator& locator, const TimingSolution& timing,
                                       bool referenceNone);
