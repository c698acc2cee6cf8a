#pragma once

#include <cstdint>
#include <vector>

/// A burst's place in the run and in the recording.
struct ClockPoint {
    std::int64_t burst = 0;
    double played = 0;  ///< played frames from the first step's start
    double time = 0;    ///< input frame
    double spread = 0;  ///< the time's standard uncertainty from the noise, input frames
    /// How an input coupling far below the burst's frequency moves its time
    /// (in proportion to 1 / f^2); 0 where nothing is known.
    double coupling = 0;
};

/// How far from a whole number of frames a loopback's shift may measure and
/// still be frames lost or inserted: its bursts are timed to a hundredth of
/// a frame.
constexpr double loopbackWholeSlack = 0.05;

/// A stretch of consecutive bursts over which the recording keeps one
/// clock: input frame = offset + ratio * played frame.
struct ClockSegment {
    std::int64_t firstBurst = 0;  ///< the first burst it covers
    std::int64_t lastBurst = 0;   ///< the last burst it covers, inclusive
    double ratio = 1;             ///< input frames per played frame
    double offset = 0;            ///< input frame of the first step's start on this line

    double at(double played) const { return offset + ratio * played; }
};

/// The recording's clock cut where it jumped (frames lost or inserted) or
/// changed its rate, and the bursts that lie on no line.
struct SegmentedClock {
    std::vector<ClockSegment> segments;  ///< in run order; lines not yet fitted (ratio and offset are rough)
    std::vector<std::int64_t> outliers;  ///< bursts off the line before them and after them
};

/// Splits `points` (in run order) where a point leaves the line of the
/// points before it by more than `tolerance` input frames (or six times its
/// spread, if more) and the points after it follow it (on a line through
/// it with the same clock, or, when `clockChanges`, on a new clock); a
/// point that the points after it do not follow is an outlier. When
/// `clockChanges`, a stretch is also cut where its line bends (a clock that
/// changed by a few ppm, too gently for any one point to leave the line).
/// `nominal` is the ratio to assume before two points are in.
SegmentedClock segmentClock(const std::vector<ClockPoint>& points, double tolerance, double nominal,
                            bool clockChanges);

/// The input frames the recording gained (positive: frames inserted) or
/// lost (negative) between the end of `before` and the start of `after`:
/// zero when the two lines cross between the last burst of one and the
/// first of the other (the clock changed there), else the smaller gap
/// between them at those two bursts.
double jumpBetween(const ClockSegment& before, const ClockSegment& after, double lastPlayed, double firstPlayed);
