#include "locator/timing_solution.h"

#include "locator/cubic_middle.h"
#include "locator/median.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr double loopbackScore = 0.9;
// A loopback's bursts are the generator's: four in five of them match to
// this (a 16-bit loopback to 0.99999, one 17 dB above its noise to 0.99).
// A filter shapes the bursts beyond its corner, a fifth or more of a sweep
// past a low-pass at 3 kHz, so that they match to 0.9 or less.
constexpr double loopbackMostScore = 0.99;
// A channel whose bursts leave less than this share of what the other's
// leave unexplained is the better explained, the loopback.
constexpr double explainedBetter = 0.5;
// A stretch's own clock within this many of its standard uncertainties of
// the run's common clock keeps the common one.
constexpr double sameClockSpreads = 4;
constexpr std::int64_t firstSteps = 10;

using Point = std::pair<double, double>;  // played frames, input frames

// How far from the line a point may lie before it is left out: six
// robust standard deviations of `sizes` (distances from the line), and
// not less than 0.02 frames.
double outlierLimit(const std::vector<double>& sizes)
{
    return std::max(6 * 1.4826 * median(sizes), 0.02);
}

// The mean of the values within the outlier limit of their median: a
// burst matched on a neighbouring cycle does not move it.
double robustMean(const std::vector<double>& values)
{
    double middle = median(values);
    std::vector<double> sizes;
    for (double value : values)
        sizes.push_back(std::fabs(value - middle));
    double limit = outlierLimit(sizes);
    double sum = 0;
    std::size_t n = 0;
    for (double value : values)
        if (std::fabs(value - middle) <= limit) {
            sum += value;
            ++n;
        }
    return n > 0 ? sum / double(n) : middle;
}

// The least median of five neighbours along `values`.
double earliestSettled(const std::vector<double>& values)
{
    double least = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i + 5 <= values.size(); ++i)
        least = std::min(least, median(std::vector<double>(values.begin() + static_cast<std::ptrdiff_t>(i),
                                                           values.begin() + static_cast<std::ptrdiff_t>(i + 5))));
    return least;
}

// The slope shared by groups of points, each with its own intercept,
// by least squares about each group's mean.
double sharedSlope(const std::vector<std::vector<Point>>& groups, double fallback)
{
    double across = 0, spread = 0;
    for (const std::vector<Point>& group : groups) {
        if (group.size() < 2)
            continue;
        double p0 = group.front().first, t0 = group.front().second;
        double meanP = 0, meanT = 0;
        for (const Point& point : group) {
            meanP += point.first - p0;
            meanT += point.second - t0;
        }
        meanP /= double(group.size());
        meanT /= double(group.size());
        for (const Point& point : group) {
            double p = point.first - p0 - meanP, t = point.second - t0 - meanT;
            across += p * t;
            spread += p * p;
        }
    }
    return spread > 0 ? across / spread : fallback;
}

// Each group's residuals from the shared slope, about the group's mean.
std::vector<std::vector<double>> residuals(const std::vector<std::vector<Point>>& groups, double slope)
{
    std::vector<std::vector<double>> all;
    for (const std::vector<Point>& group : groups) {
        double offset = 0;
        for (const Point& point : group)
            offset += point.second - slope * point.first;
        offset /= double(group.size());
        std::vector<double> values;
        for (const Point& point : group)
            values.push_back(point.second - slope * point.first - offset);
        all.push_back(values);
    }
    return all;
}

// Fits the shared slope, then drops the points far off the line (a burst
// matched a neighbouring peak, an event in the room) and fits again.
double robustSlope(std::vector<std::vector<Point>>& groups, double fallback, double& worst)
{
    double slope = sharedSlope(groups, fallback);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<std::vector<double>> off = residuals(groups, slope);
        std::vector<double> sizes;
        for (const std::vector<double>& values : off)
            for (double value : values)
                sizes.push_back(std::fabs(value));
        double limit = outlierLimit(sizes);
        for (std::size_t g = 0; g < groups.size(); ++g) {
            std::vector<Point> kept;
            for (std::size_t i = 0; i < groups[g].size(); ++i)
                if (std::fabs(off[g][i]) <= limit)
                    kept.push_back(groups[g][i]);
            groups[g] = kept;
        }
        groups.erase(std::remove_if(groups.begin(), groups.end(),
                                    [](const std::vector<Point>& group) { return group.empty(); }),
                     groups.end());
        slope = sharedSlope(groups, fallback);
    }
    worst = 0;
    for (const std::vector<double>& values : residuals(groups, slope))
        for (double value : values)
            worst = std::max(worst, std::fabs(value));
    return slope;
}

void describeChannel(const BurstLocator& locator, const ChannelBursts& bursts, ChannelTiming& timing)
{
    timing.found = bursts.found && !bursts.hits.empty();
    if (!timing.found)
        return;
    std::vector<double> amplitudes, scores;
    for (const BurstHit& hit : bursts.hits) {
        amplitudes.push_back(hit.amplitude);
        scores.push_back(hit.score);
    }
    // The polarity is read in the device's passband, the bursts within
    // 6 dB of its loudest tenth: below a high-pass or above a low-pass its
    // phase turns, and the sign of a match there says nothing.
    std::vector<double> sizes;
    for (double amplitude : amplitudes)
        sizes.push_back(std::fabs(amplitude));
    std::sort(sizes.begin(), sizes.end());
    double loud = sizes[sizes.size() * 9 / 10] / 2;
    std::size_t votes = 0, negative = 0;
    for (double amplitude : amplitudes)
        if (std::fabs(amplitude) >= loud) {
            ++votes;
            negative += amplitude < 0;
        }
    timing.polarity = 2 * negative > votes ? -1 : 1;
    timing.polaritySure = 10 * negative >= 9 * votes || 10 * negative <= votes;
    timing.medianScore = median(scores);
    // Over the bursts whose shape is the generator's whole burst: above
    // about a fifth of the rate its harmonic nears half the rate and is not
    // matched.
    std::vector<double> whole;
    for (const BurstHit& hit : bursts.hits)
        if (locator.shapes[static_cast<std::size_t>(hit.burst / locator.table.numAvg)].harmonic > 0)
            whole.push_back(hit.score);
    std::sort(whole.begin(), whole.end());
    timing.mostScore = whole.size() < 10 ? 1.0 : whole[whole.size() / 5];
    // A channel found from a later step (a tweeter, whose first steps lie
    // in its noise) is as far above its noise as its loudest burst.
    double power = bursts.firstPower;
    if (bursts.hits.front().burst > 0)
        for (const BurstHit& hit : bursts.hits)
            power = std::max(power, hit.power);
    timing.levelAboveNoise = bursts.leadIn.frames > 0 && bursts.leadIn.variance > 0
        ? 10 * std::log10(power / bursts.leadIn.variance)
        : std::numeric_limits<double>::infinity();
}

} // namespace

double TimingSolution::phaseSpread(const StepTable& table) const
{
    double worst = 0;
    for (std::int64_t burst = 0; burst < table.bursts(); ++burst) {
        double frames = clockSpread / ratio * std::fabs(table.playedOffset(burst) - clockCentre);
        worst = std::max(worst, table.stepOf(burst).omega * frames);
    }
    return worst;
}

bool TimingSolution::isOffLine(std::int64_t burst) const
{
    return std::find(offLine.begin(), offLine.end(), burst) != offLine.end();
}

const ClockSegment& TimingSolution::segmentOf(std::int64_t burst) const
{
    for (const ClockSegment& segment : segments)
        if (burst <= segment.lastBurst)
            return segment;
    return segments.back();
}

namespace {

// Lines more than this far off a point of their own stretch are cut in
// two (a loopback's bursts lie within a few hundredths of a frame of it).
constexpr double loopbackTolerance = 0.25;
// A device's own delay moves its bursts along a sweep: only jumps well
// beyond that cut its clock.
constexpr double deviceTolerance = 3.0;

// How a high-pass far below a burst's frequency moves the burst: in
// proportion to 1 / f^2, for a first-order coupling and a second-order one.
double couplingShape(const StepTable& table, std::int64_t burst)
{
    double f = table.stepOf(burst).actFreq;
    return 1.0 / (f * f);
}

// The points that `segment` covers.
std::vector<const ClockPoint*> pointsOf(const std::vector<ClockPoint>& points, const ClockSegment& segment)
{
    std::vector<const ClockPoint*> own;
    for (const ClockPoint& point : points)
        if (point.burst >= segment.firstBurst && point.burst <= segment.lastBurst)
            own.push_back(&point);
    return own;
}

// The coupling that, taken out of every point, leaves each segment's
// points straightest: least squares over the segments' lines and one
// shared coupling term.
// Whether coupling shapes from `low` to `high` are one frequency's (a
// polar run's): a coupling then delays every burst alike, which is part of
// the offset, and solved for it is noise divided by nothing (that put a
// polar run 5 intervals early).
bool oneFrequency(double low, double high)
{
    return std::max(low, high) < 1.1 * std::min(low, high);
}

double perSegmentCoupling(const StepTable& table, const std::vector<ClockPoint>& points,
                          const std::vector<ClockSegment>& segments, double& rms)
{
    double across = 0, spread = 0, squares = 0, count = 0;
    for (const ClockSegment& segment : segments) {
        double n = 0, sp = 0, spp = 0, st = 0, spt = 0, sg = 0, spg = 0;
        std::vector<const ClockPoint*> own = pointsOf(points, segment);
        if (own.size() < 3)
            continue;
        // A segment of one frequency says nothing of it.
        if (oneFrequency(couplingShape(table, own.back()->burst), couplingShape(table, own.front()->burst)))
            continue;
        double p0 = own.front()->played, t0 = own.front()->time;
        for (const ClockPoint* point : own) {
            double p = point->played - p0, t = point->time - t0, g = couplingShape(table, point->burst);
            n += 1;
            sp += p;
            spp += p * p;
            st += t;
            spt += p * t;
            sg += g;
            spg += p * g;
        }
        double det = n * spp - sp * sp;
        if (!(det > 0))
            continue;
        // Each point's time and coupling shape less their segment's line.
        double at = (spp * st - sp * spt) / det, bt = (n * spt - sp * st) / det;
        double ag = (spp * sg - sp * spg) / det, bg = (n * spg - sp * sg) / det;
        for (const ClockPoint* point : own) {
            double p = point->played - p0;
            double rt = point->time - t0 - at - bt * p;
            double rg = couplingShape(table, point->burst) - ag - bg * p;
            across += rt * rg;
            spread += rg * rg;
            squares += rt * rt;
            count += 1;
        }
    }
    double coupling = spread > 0 ? across / spread : 0;
    rms = count > 0 ? std::sqrt(std::max(0.0, squares - coupling * across) / count) : 0;
    return coupling;
}

// The same with one clock for every segment, each in its own place: where
// frames were lost or inserted often, the segments are short and their own
// clocks say little of the coupling's curve.
double commonClockCoupling(const StepTable& table, const std::vector<ClockPoint>& points,
                           const std::vector<ClockSegment>& segments, double& rms)
{
    double spp = 0, spg = 0, sgg = 0, spt = 0, sgt = 0, stt = 0, count = 0;
    double lowest = INFINITY, highest = 0;
    for (const ClockSegment& segment : segments) {
        std::vector<const ClockPoint*> own = pointsOf(points, segment);
        if (own.empty())
            continue;
        double mp = 0, mt = 0, mg = 0;
        for (const ClockPoint* point : own) {
            mp += (point->played - own.front()->played) / double(own.size());
            mt += (point->time - own.front()->time) / double(own.size());
            mg += couplingShape(table, point->burst) / double(own.size());
        }
        for (const ClockPoint* point : own) {
            double p = point->played - own.front()->played - mp, t = point->time - own.front()->time - mt;
            const double shape = couplingShape(table, point->burst);
            lowest = std::min(lowest, shape);
            highest = std::max(highest, shape);
            double g = shape - mg;
            spp += p * p;
            spg += p * g;
            sgg += g * g;
            spt += p * t;
            sgt += g * t;
            stt += t * t;
            count += 1;
        }
    }
    double det = spp * sgg - spg * spg;
    if (!(det > 0) || count < 4 || oneFrequency(lowest, highest)) {
        rms = INFINITY;
        return 0;
    }
    double slope = (sgg * spt - spg * sgt) / det, coupling = (spp * sgt - spg * spt) / det;
    rms = std::sqrt(std::max(0.0, stt - slope * spt - coupling * sgt) / count);
    return coupling;
}

// The coupling from one clock for the whole run where that clock fits the
// points about as well as each segment's own (no clock changed), else
// from each segment's own clock.
double estimateCoupling(const StepTable& table, const std::vector<ClockPoint>& points,
                        const std::vector<ClockSegment>& segments)
{
    double ownRms = 0, commonRms = 0;
    double own = perSegmentCoupling(table, points, segments, ownRms);
    if (segments.size() < 2)
        return own;
    double common = commonClockCoupling(table, points, segments, commonRms);
    return commonRms <= 2 * ownRms + 0.01 ? common : own;
}

int chooseReference(const BurstLocator& locator, const TimingSolution& solution, ReferenceChoice choice)
{
    if (choice == ReferenceChoice::channel1 || choice == ReferenceChoice::channel2) {
        int forced = choice == ReferenceChoice::channel1 ? 0 : 1;
        return solution.channels[forced].found ? forced : -1;
    }
    if (choice != ReferenceChoice::automatic)
        return -1;
    bool candidate[2];
    for (int c = 0; c < 2; ++c)
        candidate[c] = solution.channels[c].found && solution.channels[c].medianScore >= loopbackScore
            && solution.channels[c].mostScore >= loopbackMostScore;
    if (!candidate[0] || !candidate[1])
        return candidate[1] ? 1 : (candidate[0] ? 0 : -1);
    // Both look like the generator's bursts (an impedance divider's driver
    // is nearly a resistor): the loopback is the one whose bursts the
    // generator's burst explains best, judged over every burst both hold
    // (one burst's click or loss does not decide), where one leaves less
    // than half of what the other leaves unexplained.
    std::map<std::int64_t, const BurstHit*> first;
    for (const BurstHit& hit : locator.channel(0).hits)
        first[hit.burst] = &hit;
    std::vector<double> lead, unexplained[2];
    for (const BurstHit& hit : locator.channel(1).hits) {
        auto match = first.find(hit.burst);
        if (match == first.end())
            continue;
        lead.push_back(hit.time - match->second->time);
        unexplained[0].push_back(unexplainedShare(match->second->score));
        unexplained[1].push_back(unexplainedShare(hit.score));
    }
    const double left[2] = {median(unexplained[0]), median(unexplained[1])};
    if (left[0] < explainedBetter * left[1])
        return 0;
    if (left[1] < explainedBetter * left[0])
        return 1;
    // Explained alike (two loopbacks, a flat amplifier): the one that
    // arrives first is the loopback; channel 2, the wiring the README
    // gives, wins a tie.
    return !lead.empty() && median(lead) > 0.5 ? 0 : 1;
}

// How far noise moves a burst's matched start: the noise against the
// slope of the burst's shape (its fundamental and second harmonic) over
// its window.
double timeSpread(const BurstLocator& locator, const ChannelBursts& bursts, const BurstHit& hit)
{
    double noise = bursts.noise();
    double signal = hit.power - noise;
    if (!(noise > 0))
        return 0;
    if (!(signal > noise))
        return 1e3;
    const BurstShape& shape = locator.shapes[static_cast<std::size_t>(hit.burst / locator.table.numAvg)];
    double omega = shape.omega;
    double slopeEnergy = shape.span * omega * omega * (1 + 4 * shape.harmonic) / 2;
    return std::sqrt(noise / (signal * std::max(slopeEnergy, 1e-12)));
}

// Where a device turns a burst's phase (a filter above its corner), the
// generator's burst matches it about as well at a neighbouring cycle with
// the other sign, and the match moves there from one step to the next: its
// time hops by a fraction of a period that no frames were lost for. The
// fundamental's own phase does not hop, so at each change of sign the
// times after it are shifted by the change of the fundamental's delay
// across it (taken whatever the match's sign), which joins the two
// branches. A loopback's match never changes sign; frames lost move the
// time and the fundamental alike, so the shift leaves them as they are.
std::map<std::int64_t, double> branchShifts(const BurstLocator& locator, const ChannelBursts& bursts)
{
    std::map<std::int64_t, double> shifts;
    double shift = 0, lastDelay = 0;
    int lastSign = 0;
    for (const BurstHit& hit : bursts.hits) {
        const int sign = hit.amplitude > 0 ? 1 : hit.amplitude < 0 ? -1 : 0;
        const BurstShape& shape = locator.shapes[static_cast<std::size_t>(hit.burst / locator.table.numAvg)];
        const double period = 2 * std::acos(-1.0) / shape.omega;
        // The fundamental's delay whatever the match's sign.
        const double delay = sign < 0 ? std::remainder(hit.fundamentalDelay + period / 2, period) : hit.fundamentalDelay;
        if (sign != 0 && lastSign != 0 && sign != lastSign)
            shift += delay - lastDelay;
        if (sign != 0) {
            lastSign = sign;
            lastDelay = delay;
        }
        shifts[hit.burst] = shift;
    }
    return shifts;
}

// A burst the generator's tones explain but for this share of itself, and
// its noise's share three times over, is placed by its arrival.
constexpr double explainedTone = 1e-3;
constexpr double noiseLeftOverShare = 3;

bool explainedBurst(const ChannelBursts& bursts, const BurstHit& hit)
{
    const double noise = bursts.noise();
    return hit.leftOver.tone <= explainedTone + noiseLeftOverShare * noise / std::max(hit.power, 1e-300);
}

std::vector<ClockPoint> clockPoints(const BurstLocator& locator, const ChannelBursts& bursts, bool loopback)
{
    std::map<std::int64_t, double> shifts;
    if (!loopback)
        shifts = branchShifts(locator, bursts);
    std::vector<ClockPoint> points;
    for (const BurstHit& hit : bursts.hits)
        points.push_back(ClockPoint{hit.burst, hit.played, hit.time + (loopback ? 0.0 : shifts[hit.burst]),
                                    timeSpread(locator, bursts, hit), couplingShape(locator.table, hit.burst)});
    return points;
}

// A burst's time with the input coupling's lead taken out.
double straightened(const BurstLocator& locator, const TimingSolution& solution, const BurstHit& hit)
{
    return hit.time - solution.coupling * couplingShape(locator.table, hit.burst);
}

// The groups of points whose shared slope is the clock of `segment`.
std::vector<std::vector<Point>> clockGroups(const BurstLocator& locator, const TimingSolution& solution,
                                            const ClockSegment& segment)
{
    auto inside = [&](const BurstHit& hit) {
        return hit.burst >= segment.firstBurst && hit.burst <= segment.lastBurst && !solution.isOffLine(hit.burst);
    };
    std::vector<std::vector<Point>> groups;
    if (solution.reference >= 0) {
        std::vector<Point> points;
        for (const BurstHit& hit : locator.channel(solution.reference).hits)
            if (inside(hit))
                points.emplace_back(hit.played, straightened(locator, solution, hit));
        groups.push_back(points);
        return groups;
    }
    const StepTable& table = locator.table;
    for (int c = 0; c < BurstLocator::channelCount; ++c) {
        if (!solution.channels[c].found)
            continue;
        // With one burst a step the device's phase delay moves the
        // times too; it changes least above 1 kHz, where a
        // loudspeaker's roll-off and the room's modes are far away. The
        // choice is the run's, so that every stretch keeps to it.
        std::size_t high = 0;
        for (const BurstHit& hit : locator.channel(c).hits)
            high += table.stepOf(hit.burst).nomFreq >= 1000;
        bool highOnly = !solution.clockFromRepeats && high >= 20;
        std::map<std::int64_t, std::vector<Point>> byStep;
        std::map<std::int64_t, double> shifts = branchShifts(locator, locator.channel(c));
        for (const BurstHit& hit : locator.channel(c).hits)
            if (inside(hit) && (!highOnly || table.stepOf(hit.burst).nomFreq >= 1000))
                byStep[solution.clockFromRepeats ? hit.burst / table.numAvg : 0].emplace_back(
                    hit.played, straightened(locator, solution, hit) + shifts[hit.burst]);
        for (auto& entry : byStep)
            groups.push_back(entry.second);
    }
    return groups;
}

// How far the clock fitted to `groups` may be off: the larger of its
// standard error from the scatter about the line and half the difference
// between the clocks of the run's two halves (a device's delay drifting
// along the sweep shows there, not in the scatter). `centre` is set to the
// played frame the points weigh around.
double slopeSpread(const std::vector<std::vector<Point>>& groups, double slope, double& centre)
{
    std::vector<double> played;
    for (const std::vector<Point>& group : groups)
        for (const Point& point : group)
            played.push_back(point.first);
    if (played.size() < 4)
        return 0;
    centre = median(played);
    std::vector<std::vector<Point>> halves[2];
    double squares = 0, spread = 0;
    std::size_t n = 0;
    for (const std::vector<Point>& group : groups) {
        std::vector<Point> parts[2];
        double offset = 0;
        for (const Point& point : group)
            offset += (point.second - slope * point.first) / double(group.size());
        double mean = 0;
        for (const Point& point : group)
            mean += point.first / double(group.size());
        for (const Point& point : group) {
            parts[point.first < centre ? 0 : 1].push_back(point);
            double off = point.second - slope * point.first - offset;
            squares += off * off;
            spread += (point.first - mean) * (point.first - mean);
            ++n;
        }
        for (int h = 0; h < 2; ++h)
            if (parts[h].size() >= 2)
                halves[h].push_back(parts[h]);
    }
    double standard = n > groups.size() + 1 && spread > 0
        ? std::sqrt(squares / double(n - groups.size() - 1) / spread) : 0;
    double drift = 0;
    if (!halves[0].empty() && !halves[1].empty())
        drift = std::fabs(sharedSlope(halves[0], slope) - sharedSlope(halves[1], slope)) / 2;
    return std::max(standard, drift);
}

// The stretches of a loopback as lines of one clock. A recorder loses or
// inserts whole frames of its own clock: consecutive stretches that keep
// the clock (`keeps`) and whose places on lines of it lie whole frames
// apart are one line once those frames are taken out, so that the clock
// comes from the span of them all rather than from each stretch's few
// bursts (a recorder that slips every second step leaves stretches of
// two). A stretch whose own clock stands off it (the clock changed) joins
// none, whatever its place.
struct WholeFrameLines {
    std::vector<std::vector<Point>> lines;
    // Per stretch: on one line with a neighbour; the line; the frames taken
    // out of it to put it there.
    std::vector<bool> tied;
    std::vector<std::size_t> lineOf;
    std::vector<double> shiftOf;

    WholeFrameLines(const std::vector<std::vector<Point>>& stretches, const std::vector<bool>& keeps, double slope)
        : tied(stretches.size(), false), lineOf(stretches.size(), 0), shiftOf(stretches.size(), 0)
    {
        double previous = 0, shift = 0;
        std::size_t last = 0;
        bool open = false;  // the latest line may take the next stretch
        for (std::size_t k = 0; k < stretches.size(); ++k) {
            const std::vector<Point>& stretch = stretches[k];
            if (stretch.empty())
                continue;
            double place = 0;
            for (const Point& point : stretch)
                place += (point.second - slope * point.first) / double(stretch.size());
            const double gap = place - previous;
            previous = place;
            if (!open || !keeps[k] || std::fabs(gap - std::round(gap)) > loopbackWholeSlack) {
                shift = 0;
                lines.push_back(stretch);
                open = keeps[k];
            } else {
                shift += std::round(gap);
                for (const Point& point : stretch)
                    lines.back().emplace_back(point.first, point.second - shift);
                tied[k] = tied[last] = true;
            }
            lineOf[k] = lines.size() - 1;
            shiftOf[k] = shift;
            last = k;
        }
    }
};

// A stretch's own clock from its groups (`fallback` with fewer than two
// points), the largest residual about it, and how far it may be off
// (infinitely, with fewer than four points).
struct OwnClock {
    double ratio = 1, worst = 0, uncertainty = INFINITY;

    OwnClock(std::vector<std::vector<Point>> groups, double fallback) : ratio(fallback)
    {
        std::size_t points = 0;
        for (const std::vector<Point>& group : groups)
            points += group.size();
        if (points >= 2)
            ratio = robustSlope(groups, fallback, worst);
        double centre = 0;
        if (points >= 4)
            uncertainty = slopeSpread(groups, ratio, centre);
    }

    bool keeps(double clock) const { return std::fabs(ratio - clock) <= sameClockSpreads * uncertainty; }
};

// Each segment's clock and place, and the largest residual of any.
void fitSegments(const BurstLocator& locator, TimingSolution& solution)
{
    double carried = locator.nominalRatio;
    double worstAll = 0;
    // Without a loopback the device's own delay moves every burst: one
    // clock for the whole run, from every stretch's groups at once, each
    // stretch keeping its own place.
    double shared = 0;
    if (solution.reference < 0) {
        std::vector<std::vector<Point>> all;
        for (const ClockSegment& segment : solution.segments)
            for (std::vector<Point>& group : clockGroups(locator, solution, segment))
                all.push_back(group);
        double worst = 0;
        shared = robustSlope(all, carried, worst);
        worstAll = worst / shared;
        solution.clockSpread = slopeSpread(all, shared, solution.clockCentre);
    }
    // With a loopback, frames lost or inserted move a stretch without
    // changing the recorder's clock: the stretches share one, each in its
    // own place, unless a stretch's own clock stands off it by more than
    // its uncertainty (the clock changed). A short stretch then takes the
    // clock of the whole run rather than that of its few bursts.
    double common = 0, commonWorst = 0;
    std::vector<bool> tied(solution.segments.size(), false);
    std::vector<double> tiedOffset(solution.segments.size(), 0);
    if (solution.reference >= 0 && solution.segments.size() > 1) {
        std::vector<std::vector<Point>> all;
        for (const ClockSegment& segment : solution.segments)
            all.push_back(clockGroups(locator, solution, segment).front());
        std::vector<std::vector<Point>> each = all;  // trimmed of its outliers by the fit
        common = robustSlope(each, carried, commonWorst);
        // A stretch keeps the run's clock where a line of its own clock
        // and one of the run's part by less than a whole frame's slack
        // over its length: a clock that changed parts them by frames.
        std::vector<bool> keeps;
        for (const std::vector<Point>& stretch : all) {
            const double span = stretch.size() < 2 ? 0 : stretch.back().first - stretch.front().first;
            keeps.push_back(std::fabs(OwnClock({stretch}, carried).ratio - common) * span <= loopbackWholeSlack);
        }
        WholeFrameLines joined(all, keeps, common);
        tied = joined.tied;
        if (std::find(tied.begin(), tied.end(), true) != tied.end()) {
            std::vector<std::vector<Point>> lines = joined.lines;
            common = robustSlope(lines, common, commonWorst);
            // A stretch on a line with others is placed by all of their
            // bursts, its whole frames apart.
            std::vector<double> lineOffsets;
            for (const std::vector<Point>& line : joined.lines) {
                std::vector<double> offsets;
                for (const Point& point : line)
                    offsets.push_back(point.second - common * point.first);
                lineOffsets.push_back(robustMean(offsets));
            }
            for (std::size_t k = 0; k < all.size(); ++k)
                tiedOffset[k] = lineOffsets[joined.lineOf[k]] + joined.shiftOf[k];
        }
    }
    for (std::size_t k = 0; k < solution.segments.size(); ++k) {
        ClockSegment& segment = solution.segments[k];
        if (shared > 0) {
            segment.ratio = shared;
        } else {
            const OwnClock own(clockGroups(locator, solution, segment), carried);
            segment.ratio = own.ratio;
            double worst = own.worst;
            if (common > 0 && (tied[k] || own.keeps(common))) {
                segment.ratio = common;
                worst = commonWorst;
            }
            worstAll = std::max(worstAll, worst / segment.ratio);
        }
        carried = segment.ratio;
        std::vector<double> offsets;
        for (const BurstHit& hit : locator.channel(solution.clockChannel).hits)
            if (hit.burst >= segment.firstBurst && hit.burst <= segment.lastBurst && !solution.isOffLine(hit.burst))
                offsets.push_back(straightened(locator, solution, hit) - segment.ratio * hit.played);
        if (!offsets.empty())
            segment.offset = solution.reference >= 0 ? robustMean(offsets) : median(offsets);
        if (tied[k])
            segment.offset = tiedOffset[k];
    }
    solution.residual = worstAll;
}

// Channel `c`'s bursts after the lines that place them, by burst.
std::map<std::int64_t, double> offsetsOf(const BurstLocator& locator, const TimingSolution& solution, int c)
{
    std::map<std::int64_t, double> byBurst;
    for (const BurstHit& hit : locator.channel(c).hits)
        byBurst[hit.burst] = hit.time - solution.segmentOf(hit.burst).at(hit.played);
    return byBurst;
}

void findLags(const BurstLocator& locator, TimingSolution& solution)
{
    const int count = BurstLocator::channelCount;
    for (int c = 0; c < count; ++c) {
        if (!solution.channels[c].found)
            continue;
        std::vector<double> own;
        for (const auto& entry : offsetsOf(locator, solution, c))
            own.push_back(entry.second);
        solution.lag[c] = median(own);
    }
    if (solution.reference < 0)
        return;
    int reference = solution.reference, other = 1 - reference;
    solution.lag[reference] = 0;
    if (!solution.channels[other].found)
        return;
    std::map<std::int64_t, double> referenceOffsets = offsetsOf(locator, solution, reference);
    // What ravan reads is the fundamental: the device's delay is taken
    // from its phase.
    std::map<std::int64_t, double> fundamentalDelays;
    for (const BurstHit& hit : locator.channel(other).hits)
        fundamentalDelays[hit.burst] = hit.fundamentalDelay;
    for (const BurstHit& hit : locator.channel(reference).hits)
        fundamentalDelays[hit.burst] -= hit.fundamentalDelay;
    // A device's own filters delay its bursts by an amount that changes
    // along the run; the earliest arrival in its passband (above 1 kHz,
    // the least of the medians of five neighbouring steps, so that no lone
    // burst decides) is the pure delay with the least of the device's own.
    std::vector<double> differences, high;
    for (const auto& entry : offsetsOf(locator, solution, other)) {
        auto match = referenceOffsets.find(entry.first);
        if (match == referenceOffsets.end())
            continue;
        differences.push_back(entry.second - match->second);
        if (locator.table.stepOf(entry.first).nomFreq >= 1000)
            high.push_back(entry.second - match->second + fundamentalDelays[entry.first]);
    }
    if (!differences.empty())
        solution.lag[other] = high.size() >= 20 ? earliestSettled(high) : median(differences);
    solution.timeOfFlight = solution.lag[other] / solution.ratio;
}

} // namespace

TimingSolution solveTiming(const BurstLocator& locator, ReferenceChoice choice)
{
    return solveTiming(locator, choice, {});
}

TimingSolution solveTiming(const BurstLocator& locator, ReferenceChoice choice,
                           const std::vector<std::int64_t>& damaged)
{
    TimingSolution solution;
    const int count = BurstLocator::channelCount;
    for (int c = 0; c < count; ++c)
        describeChannel(locator, locator.channel(c), solution.channels[c]);
    if (!solution.anyFound())
        return solution;
    solution.reference = chooseReference(locator, solution, choice);
    solution.clockFromRepeats = solution.reference < 0 && locator.table.numAvg >= 2;
    solution.clockChannel = solution.reference;
    if (solution.clockChannel < 0)
        solution.clockChannel = !solution.channels[0].found
                || locator.channel(1).hits.size() > locator.channel(0).hits.size() ? 1 : 0;

    std::vector<ClockPoint> points;
    for (const ClockPoint& point : clockPoints(locator, locator.channel(solution.clockChannel), solution.reference >= 0))
        if (std::find(damaged.begin(), damaged.end(), point.burst) == damaged.end())
            points.push_back(point);
    bool loopback = solution.reference >= 0;
    double tolerance = (loopback ? loopbackTolerance : deviceTolerance) * locator.nominalRatio;
    // Without a loopback a change of clock cannot be told from the device's
    // own delay changing along the sweep: only jumps cut the clock.
    SegmentedClock clock = segmentClock(points, tolerance, locator.nominalRatio, loopback);
    solution.offLine = clock.outliers;
    solution.offLine.insert(solution.offLine.end(), damaged.begin(), damaged.end());
    std::vector<ClockPoint> onLine;
    for (const ClockPoint& point : points)
        if (std::find(clock.outliers.begin(), clock.outliers.end(), point.burst) == clock.outliers.end())
            onLine.push_back(point);
    solution.coupling = estimateCoupling(locator.table, onLine, clock.segments);
    solution.segments = clock.segments;
    fitSegments(locator, solution);
    solution.ratio = solution.segments.front().ratio;
    solution.ppm = (solution.ratio / locator.nominalRatio - 1) * 1e6;
    findLags(locator, solution);

    for (int c = 0; c < count; ++c) {
        if (!solution.channels[c].found)
            continue;
        ChannelTiming& timing = solution.channels[c];
        timing.arrival = solution.segments.front().offset + solution.lag[c];
        // Where the first steps start on each channel's own line: what
        // ravdelay answers.
        std::vector<double> early;
        for (const auto& entry : offsetsOf(locator, solution, c))
            if (entry.first / std::max(1, locator.table.numAvg) < firstSteps)
                early.push_back(entry.second);
        timing.firstSteps = early.empty() ? timing.arrival : solution.segments.front().offset + median(early);
    }
    return solution;
}

double unexplainedDeparture(const BurstLocator& locator, const TimingSolution& solution, const BurstHit& hit)
{
    const ClockSegment& segment = solution.segmentOf(hit.burst);
    double off = straightened(locator, solution, hit) - segment.at(hit.played) - solution.lag[solution.clockChannel];
    // A burst in noise is placed only as well as the noise lets it be:
    // beyond six times that it is unexplained.
    double noise = 6 * timeSpread(locator, locator.channel(solution.clockChannel), hit);
    return std::fabs(off) > noise ? std::fabs(off) / segment.ratio : 0;
}

double provenResidual(const BurstLocator& locator, const TimingSolution& solution,
                      const std::vector<std::uint8_t>& damaged)
{
    if (solution.clockChannel < 0 || solution.segments.empty())
        return 0;
    const StepTable& table = locator.table;
    double worst = 0;
    for (const BurstHit& hit : locator.channel(solution.clockChannel).hits) {
        std::size_t step = static_cast<std::size_t>(hit.burst / table.numAvg);
        if (step < damaged.size() && damaged[step] != 0)
            continue;
        worst = std::max(worst, unexplainedDeparture(locator, solution, hit));
    }
    return worst;
}

CourseDeparture courseDeparture(const BurstLocator& locator, const TimingSolution& solution,
                                const std::vector<std::uint8_t>& damaged)
{
    CourseDeparture worst;
    if (solution.clockChannel < 0 || solution.segments.empty())
        return worst;
    const StepTable& table = locator.table;
    const ChannelBursts& bursts = locator.channel(solution.clockChannel);
    std::map<std::int64_t, const BurstHit*> usable;
    for (const BurstHit& hit : bursts.hits) {
        const std::size_t step = static_cast<std::size_t>(hit.burst / table.numAvg);
        if ((step >= damaged.size() || damaged[step] == 0) && explainedBurst(bursts, hit))
            usable[hit.burst] = &hit;
    }
    // The lines were drawn through the times as the clock's points hold
    // them: a device's joined across its match's changes of sign.
    std::map<std::int64_t, double> shifts;
    if (solution.reference < 0)
        shifts = branchShifts(locator, bursts);
    auto departure = [&](const BurstHit& hit) {
        const ClockSegment& segment = solution.segmentOf(hit.burst);
        return (straightened(locator, solution, hit) + shifts[hit.burst] - segment.at(hit.played)
                - solution.lag[solution.clockChannel])
            / segment.ratio;
    };
    for (const auto& entry : usable) {
        double around[5];
        bool whole = true;
        for (std::int64_t k = -2; k <= 2 && whole; ++k) {
            auto near = usable.find(entry.first + k * table.numAvg);
            whole = near != usable.end();
            if (whole)
                around[k + 2] = departure(*near->second);
        }
        if (!whole)
            continue;
        const double course = cubicMiddle(around[0], around[1], around[3], around[4]);
        const double beyond = std::fabs(around[2] - course) - 6 * timeSpread(locator, bursts, *entry.second);
        if (beyond > worst.frames) {
            worst.frames = beyond;
            worst.burst = entry.first;
        }
    }
    return worst;
}

std::int64_t unexplainedCut(const BurstLocator& locator, const TimingSolution& solution)
{
    if (solution.reference >= 0 || solution.clockChannel < 0)
        return -1;
    const ChannelBursts& bursts = locator.channel(solution.clockChannel);
    std::map<std::int64_t, const BurstHit*> byBurst;
    for (const BurstHit& hit : bursts.hits)
        byBurst[hit.burst] = &hit;
    // The two bursts found nearest the cut on one side, counting outward.
    auto explainedSide = [&](std::int64_t from, std::int64_t step) {
        int seen = 0;
        for (std::int64_t burst = from; burst >= 0 && burst < locator.table.bursts() && seen < 2; burst += step) {
            auto found = byBurst.find(burst);
            if (found == byBurst.end())
                continue;
            if (!explainedBurst(bursts, *found->second))
                return false;
            ++seen;
        }
        return seen == 2;
    };
    for (std::size_t k = 1; k < solution.segments.size(); ++k)
        if (!explainedSide(solution.segments[k - 1].lastBurst, -1) || !explainedSide(solution.segments[k].firstBurst, 1))
            return solution.segments[k].firstBurst;
    return -1;
}
