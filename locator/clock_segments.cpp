#include "locator/clock_segments.h"

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

// Whether `point` lies whole frames (at least one) off `current`: where a
// recorder lost or inserted frames of its own.
bool wholeShift(const Line& current, const ClockPoint& point)
{
    const double jump = point.time - current.at(point.played);
    return std::round(jump) != 0 && std::fabs(jump - std::round(jump)) <= wholeFrameSlack + 3 * point.spread;
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
    bool whole = wholeShift(current, points[i]);
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

// A clock that changed by a few ppm bends a stretch's line too gently for
// any one point to leave the line through the points before it, though by
// the stretch's end its points lie frames off one line. A line that leaves
// a point by more than `bendSlack` (and six times the point's spread) is
// bent where two lines that meet there fit the points best (least
// squares), if that brings them closer; each part keeps `bendSide` points,
// so that it has a clock of its own, and is looked at again (a clock may
// change more than once, and a bend near a stretch's end is only seen once
// the rest is cut off).
constexpr double bendSlack = 0.05;
constexpr std::size_t bendSide = 4;
constexpr int mostBends = 6;

// Solves the n x n system `m` c = `v` (n <= 4) by elimination with
// partial pivoting; false when it is singular.
bool solveSmall(double (&m)[4][4], double (&v)[4], std::size_t n, double (&c)[4])
{
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t row = col + 1; row < n; ++row)
            if (std::fabs(m[row][col]) > std::fabs(m[pivot][col]))
                pivot = row;
        if (!(std::fabs(m[pivot][col]) > 1e-12 * std::fabs(m[0][0])))
            return false;
        std::swap(m[col], m[pivot]);
        std::swap(v[col], v[pivot]);
        for (std::size_t row = col + 1; row < n; ++row) {
            const double factor = m[row][col] / m[col][col];
            for (std::size_t k = col; k < n; ++k)
                m[row][k] -= factor * m[col][k];
            v[row] -= factor * v[col];
        }
    }
    for (std::size_t row = n; row-- > 0;) {
        double sum = v[row];
        for (std::size_t k = row + 1; k < n; ++k)
            sum -= m[row][k] * c[k];
        c[row] = sum / m[row][row];
    }
    return true;
}

// How far `points` lie from their least-squares line: the sum of squares
// and the largest residual.
struct LineFit {
    double squares = INFINITY, worst = INFINITY;
};

// The fit of `points` by a line, bent at points[bend] when `bend` > 0 (two
// lines that meet there), with a shared input coupling's term where their
// frequencies differ: a coupling bends a sweep's first steps, and that is
// no change of clock. Times are taken about the chord through the first
// and last points, and played frames as a share of the stretch, so that
// the sums stay small.
LineFit fitLine(const std::vector<ClockPoint>& points, std::size_t bend)
{
    const ClockPoint& first = points.front();
    const double span = points.back().played - first.played;
    if (!(span > 0))
        return {0, 0};
    const double chord = (points.back().time - first.time) / span;
    double lowest = INFINITY, highest = 0;
    for (const ClockPoint& point : points) {
        lowest = std::min(lowest, point.coupling);
        highest = std::max(highest, point.coupling);
    }
    // A few points' coupling term could take up anything, a jump as well.
    const bool coupled = points.size() >= 2 * bendSide && highest > 0 && highest - lowest > 0.01 * highest;
    const double bendAt = (points[bend].played - first.played) / span;
    auto columns = [&](const ClockPoint& point, double (&f)[4]) {
        const double x = (point.played - first.played) / span;
        std::size_t n = 0;
        f[n++] = 1;
        f[n++] = x;
        if (bend > 0)
            f[n++] = std::max(0.0, x - bendAt);
        if (coupled)
            f[n++] = point.coupling / highest;
        return n;
    };
    auto departure = [&](const ClockPoint& point) {
        return point.time - first.time - chord * (point.played - first.played);
    };
    double m[4][4] = {}, v[4] = {}, c[4] = {}, f[4] = {};
    std::size_t n = 0;
    for (const ClockPoint& point : points) {
        n = columns(point, f);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j)
                m[i][j] += f[i] * f[j];
            v[i] += f[i] * departure(point);
        }
    }
    LineFit fit;
    if (!solveSmall(m, v, n, c))
        return fit;
    fit.squares = fit.worst = 0;
    for (const ClockPoint& point : points) {
        columns(point, f);
        double off = departure(point);
        for (std::size_t i = 0; i < n; ++i)
            off -= c[i] * f[i];
        fit.squares += off * off;
        fit.worst = std::max(fit.worst, std::fabs(off));
    }
    return fit;
}

// How far `points` may lie off one line and still count as on it:
// `bendSlack`, and six times the largest spread of a point's time.
double bendAllowance(const std::vector<ClockPoint>& points)
{
    double spread = 0;
    for (const ClockPoint& point : points)
        spread = std::max(spread, point.spread);
    return bendSlack + 6 * spread;
}

// `stretch` cut where its line bends, each part looked at again.
void cutAtBends(const std::vector<ClockPoint>& stretch, std::vector<std::vector<ClockPoint>>& parts, int depth)
{
    if (stretch.size() >= 2 * bendSide && depth < mostBends) {
        const LineFit straight = fitLine(stretch, 0);
        if (straight.worst > bendAllowance(stretch)) {
            std::size_t best = 0;
            LineFit bent;
            for (std::size_t k = bendSide; k + bendSide <= stretch.size(); ++k) {
                const LineFit fit = fitLine(stretch, k);
                if (fit.squares < bent.squares) {
                    bent = fit;
                    best = k;
                }
            }
            if (best > 0 && bent.worst < straight.worst) {
                // The point at the bend lies on both lines; it belongs to
                // the one it fits better once each part has its own.
                auto apart = [&](std::size_t k) {
                    return fitLine({stretch.begin(), stretch.begin() + static_cast<std::ptrdiff_t>(k)}, 0).squares
                        + fitLine({stretch.begin() + static_cast<std::ptrdiff_t>(k), stretch.end()}, 0).squares;
                };
                if (best + bendSide < stretch.size() && apart(best + 1) < apart(best))
                    ++best;
                const auto at = stretch.begin() + static_cast<std::ptrdiff_t>(best);
                cutAtBends({stretch.begin(), at}, parts, depth + 1);
                cutAtBends({at, stretch.end()}, parts, depth + 1);
                return;
            }
        }
    }
    parts.push_back(stretch);
}

// Whether `part` lies on one line within its allowance.
bool straight(const std::vector<ClockPoint>& part)
{
    return fitLine(part, 0).worst <= bendAllowance(part);
}

// Ends `stretches` as segments of `clock`, and returns the clock the next
// stretch starts from (the last part's own, where it has two points). With
// `bends` (a loopback's), they are first taken as one and cut where least
// squares puts a bend: a change of clock turns the line too gently for
// the first point that leaves it to say where (it is a few points late,
// and may lie whole frames off by then), and a cut at frames lost leaves
// two straight parts too. Only where that leaves every part straight is
// it taken; else each stretch is cut at its own bends.
double closeStretches(const std::vector<std::vector<ClockPoint>>& stretches, double ratio, SegmentedClock& clock,
                      bool bends)
{
    std::vector<std::vector<ClockPoint>> parts;
    if (bends) {
        std::vector<ClockPoint> joined;
        for (const std::vector<ClockPoint>& stretch : stretches)
            joined.insert(joined.end(), stretch.begin(), stretch.end());
        cutAtBends(joined, parts, 0);
        if (stretches.size() > 1 && !std::all_of(parts.begin(), parts.end(), straight)) {
            parts.clear();
            for (const std::vector<ClockPoint>& stretch : stretches)
                cutAtBends(stretch, parts, 0);
        }
    } else {
        parts = stretches;
    }
    for (const std::vector<ClockPoint>& part : parts) {
        Line line = lineThrough(part, 0, part.size(), ratio);
        ClockSegment segment;
        segment.firstBurst = part.front().burst;
        segment.lastBurst = part.back().burst;
        segment.ratio = line.ratio;
        segment.offset = line.offset;
        clock.segments.push_back(segment);
        if (part.size() >= 2)
            ratio = line.ratio;
    }
    return ratio;
}

} // namespace

SegmentedClock segmentClock(const std::vector<ClockPoint>& points, double tolerance, double nominal,
                            bool clockChanges)
{
    SegmentedClock clock;
    if (points.empty())
        return clock;
    std::vector<ClockPoint> stretch{points[0]};
    std::vector<std::vector<ClockPoint>> unclosed;
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
            // A loopback's stretches are closed together at the end, where
            // least squares places the cuts; a device's, one by one here.
            unclosed.push_back(stretch);
            if (!clockChanges) {
                ratio = closeStretches(unclosed, ratio, clock, false);
                unclosed.clear();
            } else if (stretch.size() >= 2) {
                ratio = current.ratio;
            }
            stretch.assign(1, points[i]);
        }
    }
    unclosed.push_back(stretch);
    closeStretches(unclosed, ratio, clock, clockChanges);
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
