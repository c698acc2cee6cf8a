#pragma once

#include "locator/burst_locator.h"
#include "locator/clock_segments.h"

#include <cstdint>
#include <vector>

/// Which channel carries the loopback, as the user gives it.
enum class ReferenceChoice { automatic, channel1, channel2, none };

/// When and how each channel's bursts arrive.
struct ChannelTiming {
    bool found = false;
    double arrival = 0;         ///< the first step's start on the run's line, input frames (fractional)
    double firstSteps = 0;      ///< the same from the first ten steps' bursts alone
    int polarity = 1;           ///< the sign of the loudest bursts' match
    bool polaritySure = true;   ///< nine in ten of them agree
    double levelAboveNoise = 0; ///< dB; inf when the lead-in is digital silence
    double medianScore = 0;
    double mostScore = 0;       ///< the score four in five bursts reach (1 with under 10 to judge)
};

/// The recording's timing: the clock as straight lines over stretches of
/// the run (one, unless the recording jumped or its clock changed), shared
/// by both channels, and each channel's lag behind those lines.
/// The clock comes from the reference channel where there is one; without
/// it, from the spacing of each step's repetitions (free of the device's
/// phase) when numAvg is 2 or more, else from the bursts of both channels
/// (those at 1 kHz and above, where there are 20 or more).
struct TimingSolution {
    ChannelTiming channels[BurstLocator::channelCount];
    int reference = -1;          ///< 0 or 1, or -1 for none
    double ratio = 1;            ///< input frames per played frame, of the first segment
    double ppm = 0;              ///< recorder's clock against the player's, positive when fast
    double residual = 0;         ///< largest timing error of a burst after the fit, played frames
    double timeOfFlight = 0;     ///< the other channel's arrival after the reference's, played frames
    bool clockFromRepeats = false;
    int clockChannel = -1;       ///< the channel whose bursts give the lines
    std::vector<ClockSegment> segments;  ///< in run order
    std::vector<std::int64_t> offLine;   ///< bursts of the clock's channel that lie on no line
    double lag[BurstLocator::channelCount] = {0, 0};  ///< input frames each channel lies after the lines
    /// The recorder's input coupling (a high-pass of a few Hz on every
    /// channel) moves a burst of f Hz earlier by about coupling / f^2 input
    /// frames; the lines are fitted with it taken out.
    double coupling = 0;
    /// Without a loopback: how far the clock may be off (input frames per
    /// played frame), and the played frame it pivots on.
    double clockSpread = 0;
    double clockCentre = 0;

    /// The most a clock off by `clockSpread` moves a step's phase, radians.
    double phaseSpread(const StepTable& table) const;

    /// Whether burst `burst` of the clock's channel lies on no line.
    bool isOffLine(std::int64_t burst) const;

    /// The line that places burst `burst`: the segment that covers it, or
    /// the next one where it falls between two.
    const ClockSegment& segmentOf(std::int64_t burst) const;
    /// Where channel `c` holds played frame `played` (from the first
    /// step's start) of burst `burst`'s stretch, input frames.
    double inputFrame(int c, std::int64_t burst, double played) const
    {
        return segmentOf(burst).at(played) + lag[c];
    }

    bool anyFound() const { return channels[0].found || channels[1].found; }
};

/// Works the timing out from what `locator` found. The automatic reference
/// is the channel whose bursts match the generator's waveform (median
/// score 0.9 or more) and arrive first.
TimingSolution solveTiming(const BurstLocator& locator, ReferenceChoice choice);

/// The same, with `damaged` (bursts of the clock's channel found damaged by
/// an earlier solution) kept out of the lines.
TimingSolution solveTiming(const BurstLocator& locator, ReferenceChoice choice,
                           const std::vector<std::int64_t>& damaged);

/// How far `hit`, a burst of the clock's channel, lies off the line that
/// places it beyond what its noise allows, played frames; 0 within it.
double unexplainedDeparture(const BurstLocator& locator, const TimingSolution& solution, const BurstHit& hit);

/// The largest departure, in played frames, of a burst of the clock's
/// channel from the line that places it, over the steps not marked in
/// `damaged` (one entry per step, 1 when damaged): the proof that every
/// step read is placed by the timing. Bursts left off the lines count too;
/// a burst within six times the spread its noise gives does not.
double provenResidual(const BurstLocator& locator, const TimingSolution& solution,
                      const std::vector<std::uint8_t>& damaged);

/// A device's bursts off the course they set: where a burst departs from
/// its line, it was placed by the device, not by a loopback.
struct CourseDeparture {
    std::int64_t burst = -1;  ///< the burst that departs most; -1 for none
    double frames = 0;        ///< by how much beyond its noise, played frames
};

/// Without a loopback the lines come from the device, whose own phase moves
/// its bursts from step to step; what that cannot do is move them at once.
/// The largest departure of a burst of the clock's channel from the course
/// the same repetition of the two steps on each side sets (their
/// departures from their lines, a cubic through them), beyond six times
/// the spread its noise gives, over bursts the generator's tones explain
/// all but wholly (to 1e-3 of themselves and three times their noise),
/// undamaged in `damaged`, with such neighbours.
CourseDeparture courseDeparture(const BurstLocator& locator, const TimingSolution& solution,
                                const std::vector<std::uint8_t>& damaged);

/// Without a loopback, the first burst after a cut of the clock's lines
/// whose two bursts nearest it on either side are not all explained by the
/// generator's tones (as `courseDeparture` counts them): there the device's
/// own onset moves its match from step to step, and a change of place is
/// no proof of frames lost. -1 where every cut is explained, or with a
/// loopback.
std::int64_t unexplainedCut(const BurstLocator& locator, const TimingSolution& solution);
