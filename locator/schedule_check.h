#pragma once

#include "timing_solution.h"

#include <string>
#include <vector>

/// Tests what the locator found against the schedule of the arguments.
/// Returns the one-line reason to refuse the recording (no burst of the
/// run was found but a burst of another frequency was, or the recording
/// ends before the last step), or an empty text when it follows the
/// schedule. `inputFrames` is how many frames the recording holds.
std::string scheduleMismatch(const BurstLocator& locator, const TimingSolution& timing, double inputFrames,
                             double inputRate);

/// The one-line reason to refuse a recording that plays faster or slower
/// than it was made (a sample rate that is not the one recorded at): the
/// first two loud sounds lie further apart than the schedule's bursts by
/// the factor by which their frequency is lower. Empty when it plays at
/// its speed. `inputRate` is the rate the file states.
std::string speedMismatch(const BurstLocator& locator, double inputRate);

/// Warnings about a recording that follows the schedule, one line each
/// (clipping, a weak channel, the wiring, a loopback that is not one, an
/// inverted device). `referenceNone` is true when the user said there is
/// no loopback; `referenceOption` when the program has a --reference
/// option to name.
std::vector<std::string> recordingWarnings(const BurstLocator& locator, const TimingSolution& timing,
                                           bool referenceNone, bool referenceOption);
