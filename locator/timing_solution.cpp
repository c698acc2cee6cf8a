#include "timing_solution.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr double loopbackScore = 0.9;
constexpr std::int64_t firstSteps = 10;

using Point = std::pair<double, double>;  // played frames, input frames

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    double upper = values[middle];
    if (values.size() % 2 == 1)
        return upper;
    double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
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
        double limit = std::max(6 * 1.4826 * median(sizes), 0.02);
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

std::vector<Point> pointsOf(const ChannelBursts& bursts)
{
    std::vector<Point> points;
    for (const BurstHit& hit : bursts.hits)
        points.emplace_back(hit.played, hit.time);
    return points;
}

void describeChannel(const ChannelBursts& bursts, ChannelTiming& timing)
{
    timing.found = bursts.found && !bursts.hits.empty();
    if (!timing.found)
        return;
    std::vector<double> amplitudes, scores;
    for (const BurstHit& hit : bursts.hits) {
        amplitudes.push_back(hit.amplitude);
        scores.push_back(hit.score);
    }
    timing.polarity = median(amplitudes) < 0 ? -1 : 1;
    timing.medianScore = median(scores);
    timing.levelAboveNoise = bursts.leadIn.frames > 0 && bursts.leadIn.variance > 0
        ? 10 * std::log10(bursts.firstPower / bursts.leadIn.variance)
        : std::numeric_limits<double>::infinity();
}

} // namespace

TimingSolution solveTiming(const BurstLocator& locator, ReferenceChoice choice)
{
    TimingSolution solution;
    const int count = BurstLocator::channelCount;
    for (int c = 0; c < count; ++c)
        describeChannel(locator.channel(c), solution.channels[c]);
    if (!solution.anyFound())
        return solution;

    if (choice == ReferenceChoice::channel1 || choice == ReferenceChoice::channel2) {
        int forced = choice == ReferenceChoice::channel1 ? 0 : 1;
        solution.reference = solution.channels[forced].found ? forced : -1;
    } else if (choice == ReferenceChoice::automatic) {
        // Channel 2 first: the wiring the README gives has the loopback
        // there, and it wins a tie.
        for (int c = count - 1; c >= 0; --c) {
            const ChannelTiming& timing = solution.channels[c];
            if (!timing.found || timing.medianScore < loopbackScore)
                continue;
            if (solution.reference < 0
                || locator.channel(c).firstStart < locator.channel(solution.reference).firstStart - 0.5)
                solution.reference = c;
        }
    }

    std::vector<std::vector<Point>> groups;
    if (solution.reference >= 0) {
        groups.push_back(pointsOf(locator.channel(solution.reference)));
    } else {
        bool repeats = locator.table.numAvg >= 2;
        solution.clockFromRepeats = repeats;
        for (int c = 0; c < count; ++c) {
            if (!solution.channels[c].found)
                continue;
            // With one burst a step the device's phase delay moves the
            // times too; it changes least above 1 kHz, where a
            // loudspeaker's roll-off and the room's modes are far away.
            std::size_t high = 0;
            for (const BurstHit& hit : locator.channel(c).hits)
                high += locator.table.stepOf(hit.burst).nomFreq >= 1000;
            bool highOnly = !repeats && high >= 20;
            std::map<std::int64_t, std::vector<Point>> byStep;
            for (const BurstHit& hit : locator.channel(c).hits)
                if (!highOnly || locator.table.stepOf(hit.burst).nomFreq >= 1000)
                    byStep[repeats ? hit.burst / locator.table.numAvg : 0].emplace_back(hit.played, hit.time);
            for (auto& entry : byStep)
                groups.push_back(entry.second);
        }
    }
    double worst = 0;
    solution.slope = robustSlope(groups, locator.scale, worst);
    solution.ppm = (solution.slope / locator.scale - 1) * 1e6;
    solution.residual = worst / solution.slope;

    // Each channel's arrival: where its line puts the first step's start.
    auto offsets = [&](int c) {
        std::map<std::int64_t, double> byBurst;
        for (const BurstHit& hit : locator.channel(c).hits)
            byBurst[hit.burst] = hit.time - solution.slope * hit.played;
        return byBurst;
    };
    if (solution.reference >= 0) {
        double sum = 0;
        std::size_t n = 0;
        for (const std::vector<Point>& group : groups)
            for (const Point& point : group) {
                sum += point.second - solution.slope * point.first;
                ++n;
            }
        double referenceArrival = sum / double(n);
        solution.channels[solution.reference].arrival = referenceArrival;
        std::map<std::int64_t, double> reference = offsets(solution.reference);
        // What ravan reads is the fundamental: the device's delay is taken
        // from its phase.
        std::map<std::int64_t, double> fundamentalDelays;
        for (const BurstHit& hit : locator.channel(1 - solution.reference).hits)
            fundamentalDelays[hit.burst] = hit.fundamentalDelay;
        for (const BurstHit& hit : locator.channel(solution.reference).hits)
            fundamentalDelays[hit.burst] -= hit.fundamentalDelay;
        int other = 1 - solution.reference;
        if (solution.channels[other].found) {
            // A device's own filters delay its bursts by an amount that
            // changes along the run; the earliest arrival in its passband
            // (above 1 kHz, the least of the medians of five neighbouring
            // steps, so that no lone burst decides) is the pure delay with
            // the least of the device's own.
            std::vector<double> differences, high;
            for (const auto& entry : offsets(other)) {
                auto match = reference.find(entry.first);
                if (match == reference.end())
                    continue;
                differences.push_back(entry.second - match->second);
                if (locator.table.stepOf(entry.first).nomFreq >= 1000)
                    high.push_back(entry.second - match->second + fundamentalDelays[entry.first]);
            }
            if (differences.empty()) {
                std::vector<double> own;
                for (const auto& entry : offsets(other))
                    own.push_back(entry.second);
                solution.channels[other].arrival = median(own);
            } else {
                solution.channels[other].arrival = referenceArrival
                    + (high.size() >= 20 ? earliestSettled(high) : median(differences));
            }
            solution.timeOfFlight = (solution.channels[other].arrival - referenceArrival) / solution.slope;
        }
    } else {
        for (int c = 0; c < count; ++c) {
            if (!solution.channels[c].found)
                continue;
            std::vector<double> own;
            for (const auto& entry : offsets(c))
                own.push_back(entry.second);
            solution.channels[c].arrival = median(own);
        }
    }
    // Where the first steps start on each channel's own line: what
    // ravdelay answers.
    for (int c = 0; c < count; ++c) {
        if (!solution.channels[c].found)
            continue;
        std::vector<double> early;
        for (const auto& entry : offsets(c))
            if (entry.first / std::max(1, locator.table.numAvg) < firstSteps)
                early.push_back(entry.second);
        solution.channels[c].firstSteps = early.empty() ? solution.channels[c].arrival : median(early);
    }
    return solution;
}
