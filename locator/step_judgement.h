#pragma once

#include "locator/timing_solution.h"

#include <cstdint>
#include <vector>

/// Where the recording lost frames (negative) or gained them (positive)
/// between two stretches of its clock.
struct ClockJump {
    std::int64_t step = 0;  ///< the first step after it, 0-based
    double frames = 0;      ///< input frames
    double inputFrame = 0;  ///< the first burst after it starts here, in the recording
    double fromFrame = 0;   ///< the last burst before it ends here: the frames changed in between
};

/// Which steps of each channel the recording carries, and where it jumped.
/// A step is damaged on a channel when its bursts cannot be read there:
/// above 0.45 times the recording's rate, a loopback burst missing or off
/// its line (then on both channels: what damages the clock's channel
/// damages the recording), a device burst missing between strong
/// neighbours or far off the delay of its neighbours, or a sample that is
/// not a number.
struct StepVerdict {
    std::vector<ClockJump> jumps;
    std::vector<std::uint8_t> damaged[BurstLocator::channelCount];  ///< per step, 1 when damaged
    /// Loopback bursts found damaged though they lay on the clock's line:
    /// the clock is solved again without them.
    std::vector<std::int64_t> clockDamage;

    /// The damaged steps of channel `c`, 0-based.
    std::vector<std::int64_t> damagedSteps(int c) const;
};

/// The share of its rate up to which a recording carries a step whole.
constexpr double carriedShare = 0.45;

/// The highest frequency a recording at `inputRate` Hz carries whole: below
/// the player's 44100 Hz, `carriedShare` of its rate; at it or above, all
/// the file holds (infinity).
double highestCarried(double inputRate);

/// Judges every step of the run against the timing. `nonfinite[c]` holds
/// the input frames of channel `c` that were not finite numbers.
StepVerdict judgeSteps(const BurstLocator& locator, const TimingSolution& timing, double inputRate,
                       const std::vector<std::int64_t> (&nonfinite)[BurstLocator::channelCount]);
