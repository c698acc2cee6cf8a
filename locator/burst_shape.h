#pragma once

#include "locator/frame_ring.h"
#include "locator/step_table.h"

#include <vector>

/// One step's burst as it should appear in a recording made at `scale`
/// input frames per played frame: the generator's 12000 * (cos x - cos 2x)
/// over the burst, taken as a function of continuous time. A second
/// harmonic above half the played rate is in the generator's file as its
/// alias, and is matched as such; one within 10 % of half the rate is left
/// out, since converters pass it only in part.
struct BurstShape {
    /// At most this many input frames of a burst are matched.
    static constexpr int maxWindow = 16384;

    double omega = 0;       ///< the fundamental, radians per input frame
    double omega2 = 0;      ///< the second harmonic or its alias, radians per input frame
    double harmonic = 1;    ///< weight of the second harmonic, 1 or 0
    double span = 0;        ///< input frames matched, at most maxWindow
    double halfPeriod = 0;  ///< half a period of the fundamental, input frames
    double scale = 1;       ///< input frames per played frame
    std::int32_t duration = 0;  ///< the burst's length, played frames

    BurstShape(const StepInfo& step, double scale);

    /// The waveform `u` input frames after the burst's start, 0 outside it.
    double value(double u) const;
    int window() const { return static_cast<int>(span) + 2; }
};

/// Samples at or above this size are taken as clipped.
constexpr double clipLevel = 32700;

/// Where a burst lies in a channel, to a fraction of a frame.
struct BurstFit {
    double time = 0;        ///< input frame of the burst's start
    double fundamentalDelay = 0;  ///< the fundamental's phase as a delay after `time`, input frames
    double peak = 0;              ///< the largest sample in the window
    double amplitude = 0;   ///< gain against the generator's level; negative when inverted
    double unclipped = 0;   ///< the same from the samples below `clipLevel` only
    double score = 0;       ///< normalised correlation with the shape, 0 .. 1
    double power = 0;       ///< mean-free power of the window, per frame
    bool atEdge = false;    ///< the best match lay at the end of the search
};

/// The share of a burst's power that a match of normalised correlation
/// `score` leaves unexplained by the shape: a click, a dropout, noise, or a
/// neighbouring cycle matched instead.
inline double unexplainedShare(double score)
{
    return 1 - score * score;
}

/// Matches `shape` in `ring` at start times within `reach` frames of
/// `predicted`: the strongest correlation over whole-frame offsets, then
/// Newton steps on the correlation's slope to a fraction of a frame. The
/// ring must hold frames predicted - reach - 1 .. predicted + reach +
/// shape.window() + 1. The strongest `peaksToRefine` local peaks of the
/// whole-frame search are refined.
BurstFit fitBurst(const FrameRing& ring, const BurstShape& shape, double predicted, int reach,
                  std::size_t peaksToRefine = 6);
