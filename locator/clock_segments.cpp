#include "clock_segments.h"

#include <algorithm>
#include <cmath>

namespace {

// The line through the latest few points of a stretch predicts the next:
// few, so that a device's delay changing slowly along a sweep does not
// look like a jump.
constexpr std::size_t predictingPoints = 4;
// How far from a whole number of frames a jump may measure.
constexpr double wholeFrameSlack = 0.2;

struct Line {
    double ratio = 1, offset = 0;
    double at(double played) const { return offset + ratio * played; }
};

// Least squares through `points[first .. last)`, the latest
// `predictingPoints` of them; one point takes `ratio`.
Line lineThrough(const std::vector<ClockPoint>& points, std::size_t first, std::size_t last, double ratio)
{
    first = std::max(first, last > predictingPoints ? last - predictingPoints : 0);
    Line line;
    line.ratio = ratio;
    double n = double(last - first);
    if (n < 1)
        return line;
    double p0 = points[first].played, t0 = points[first].time;
    double sp = 0, st = 0, spp = 0, spt = 0;
    for (std::size_t i = first; i < last; ++i) {
        double p = points[i].played - p0, t = points[i].time - t0;
        sp += p;
        st += t;
        spp += p * p;
        spt += p * t;
    }
    double spread = n * spp - sp * sp;
    if (n >= 2 && spread > 0)
        line.ratio = (n * spt - sp * st) / spread;
    line.offset = t0 + (st - line.ratio * sp) / n - line.ratio * p0;
    return line;
}

bool near(const Line& line, const ClockPoint& point, double tolerance)
{
    return std::fabs(point.time - line.at(point.played)) <= tolerance + 6 * point.spread;
}

// Whether the points after `i` follow point `i`: at least two of the next
// three (or every one there is) on the line through it with the clock of
// `current`, or the next two on a new clock through it.
bool followed(const std::vector<ClockPoint>& points, std::size_t i, const Line& current, double tolerance,
              bool clockChanges)
{
    std::size_t available = std::min<std::size_t>(3, points.size() - i - 1);
    // A recorder loses or inserts whole frames of its own: a shift by a
    // fraction (half a period, where a burst of a few samples a cycle is
    // matched a cycle away) is not a jump.
    Line shifted = current;
    shifted.offset = points[i].time - current.ratio * points[i].played;
    double jump = shifted.offset - current.offset;
    bool whole = std::fabs(jump - std::round(jump)) <= wholeFrameSlack + 3 * points[i].spread
        && std::round(jump) != 0;
    // A loopback's shift by whole frames is a jump on its own, whether or
    // not the next burst shifts again (a recorder that slips every second
    // step), unless what follows goes on with the old line (checked before
    // this).
    if (clockChanges && whole && std::fabs(jump - std::round(jump)) <= loopbackWholeSlack + 3 * points[i].spread)
        return true;
    if (available == 0)
        return false;
    std::size_t on = 0;
    for (std::size_t k = 1; k <= available; ++k)
        on += near(shifted, points[i + k], tolerance);
    if (whole && on >= std::min<std::size_t>(2, available))
        return true;
    if (!clockChanges || available < 2)
        return false;
    // A new clock must differ from the old by more than the points' own
    // scatter over the stretch it is fitted on.
    Line fresh = lineThrough(points, i, i + 2, current.ratio);
    double apart = std::fabs(fresh.ratio - current.ratio) * (points[i + 2].played - points[i].played);
    return apart > tolerance && near(fresh, points[i + 2], tolerance);
}

// The clock the points keep most of the time: the median over
// neighbouring pairs, which a few jumps do not move.
double commonRatio(const std::vector<ClockPoint>& points, double nominal)
{
    std::vector<double> pairs;
    for (std::size_t i = 1; i < points.size(); ++i)
        if (points[i].played > points[i - 1].played)
            pairs.push_back((points[i].time - points[i - 1].time) / (points[i].played - points[i - 1].played));
    if (pairs.empty())
        return nominal;
    std::nth_element(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(pairs.size() / 2), pairs.end());
    return pairs[pairs.size() / 2];
}

// A stretch of one point has no clock of its own yet: points[i] joins it
// when the point after lies on the line through both.
bool joinsLonePoint(const std::vector<ClockPoint>& stretch, const std::vector<ClockPoint>& points, std::size_t i,
                    double ratio, double reach)
{
    if (stretch.size() != 1 || i + 1 >= points.size())
        return false;
    std::vector<ClockPoint> two{stretch[0], points[i]};
    return near(lineThrough(two, 0, 2, ratio), points[i + 1], reach);
}

// Whether points[i], off the line `current`, is damaged rather than where
// the recording jumped: what comes next goes on with the old line, or
// nothing follows a new one from it.
bool damagedPoint(const std::vector<ClockPoint>& points, std::size_t i, const Line& current, double reach,
                  bool clockChanges)
{
    std::size_t ahead = std::min<std::size_t>(3, points.size() - i - 1);
    std::size_t onOld = 0;
    for (std::size_t k = 1; k <= ahead; ++k)
        onOld += near(current, points[i + k], reach);
    return (ahead > 0 && onOld * 2 >= ahead) || !followed(points, i, current, reach, clockChanges);
}

// Ends a stretch as a segment of `clock`; returns the clock the next
// stretch starts from (the stretch's own, where it has two points).
double closeStretch(const std::vector<ClockPoint>& stretch, double ratio, SegmentedClock& clock)
{
    Line line = lineThrough(stretch, 0, stretch.size(), ratio);
    ClockSegment segment;
    segment.firstBurst = stretch.front().burst;
    segment.lastBurst = stretch.back().burst;
    segment.ratio = line.ratio;
    segment.offset = line.offset;
    clock.segments.push_back(segment);
    return stretch.size() >= 2 ? line.ratio : ratio;
}

} // namespace

SegmentedClock segmentClock(const std::vector<ClockPoint>& points, double tolerance, double nominal,
                            bool clockChanges)
{
    SegmentedClock clock;
    if (points.empty())
        return clock;
    std::vector<ClockPoint> stretch{points[0]};
    double ratio = commonRatio(points, nominal);
    for (std::size_t i = 1; i < points.size(); ++i) {
        Line current = lineThrough(stretch, 0, stretch.size(), ratio);
        // The line is as uncertain as the points it comes through.
        double reach = tolerance + 3 * stretch.back().spread;
        if (near(current, points[i], reach) || joinsLonePoint(stretch, points, i, ratio, reach)) {
            stretch.push_back(points[i]);
        } else if (damagedPoint(points, i, current, reach, clockChanges)) {
            clock.outliers.push_back(points[i].burst);
        } else {
            ratio = closeStretch(stretch, ratio, clock);
            stretch.assign(1, points[i]);
        }
    }
    closeStretch(stretch, ratio, clock);
    return clock;
}

double jumpBetween(const ClockSegment& before, const ClockSegment& after, double lastPlayed, double firstPlayed)
{
    double atLast = after.at(lastPlayed) - before.at(lastPlayed);
    double atFirst = after.at(firstPlayed) - before.at(firstPlayed);
    if ((atLast < 0) != (atFirst < 0))
        return 0;
    return std::fabs(atLast) < std::fabs(atFirst) ? atLast : atFirst;
}
