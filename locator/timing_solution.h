#pragma once

#include "burst_locator.h"

/// Which channel carries the loopback, as the user gives it.
enum class ReferenceChoice { automatic, channel1, channel2, none };

/// When and how each channel's bursts arrive.
struct ChannelTiming {
    bool found = false;
    double arrival = 0;         ///< the first step's start on the run's line, input frames (fractional)
    double firstSteps = 0;      ///< the same from the first ten steps' bursts alone
    int polarity = 1;
    double levelAboveNoise = 0; ///< dB; inf when the lead-in is digital silence
    double medianScore = 0;
};

/// The recording's timing as one straight line per channel: the first
/// step's start (each channel's own arrival) and one clock shared by both.
/// The clock comes from the reference channel where there is one; without
/// it, from the spacing of each step's repetitions (free of the device's
/// phase) when numAvg is 2 or more, else from the bursts of both channels
/// (those at 1 kHz and above, where there are 20 or more).
struct TimingSolution {
    ChannelTiming channels[BurstLocator::channelCount];
    int reference = -1;          ///< 0 or 1, or -1 for none
    double slope = 1;            ///< input frames per played frame
    double ppm = 0;              ///< recorder's clock against the player's, positive when fast
    double residual = 0;         ///< largest timing error of a burst after the fit, played frames
    double timeOfFlight = 0;     ///< the other channel's arrival after the reference's, played frames
    bool clockFromRepeats = false;

    bool anyFound() const { return channels[0].found || channels[1].found; }
};

/// Works the timing out from what `locator` found. The automatic reference
/// is the channel whose bursts match the generator's waveform (median
/// score 0.9 or more) and arrive first.
TimingSolution solveTiming(const BurstLocator& locator, ReferenceChoice choice);
