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

/// Warnings about a recording that follows the schedule, one line each
/// (clipping, a weak channel, the wiring, a loopback that is not one, an
/// inverted device). `referenceNone` is true when the user said there is
/// no loopback; `referenceOption` when the program has a --reference
/// option to name.
std::vector<std::string> recordingWarnings(const BurstLocator& locator, const TimingSolution& timing,
                                           bool referenceNone, bool referenceOption);
