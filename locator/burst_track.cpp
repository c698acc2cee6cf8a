#include "locator/burst_track.h"

#include <algorithm>
#include <cmath>

namespace {

// Recorder clocks differ from the player's by at most this much before
// the first hits measure the difference.
constexpr double clockTolerance = 2e-3;
constexpr std::size_t recentHits = 16;
// The least share of a burst a match may leave unexplained beyond its
// track's before it counts as worse.
constexpr double worseMatch = 0.01;
constexpr double closeMatch = 1e-3;

} // namespace

bool BurstTrack::fitted(double& slope) const
{
    // The latest hits only: a device's phase delay changes along a sweep,
    // and a line through the whole run would lag behind it.
    // A stretch after a jump or a change of clock has a clock of its own
    // from its second hit on.
    std::size_t count = std::min<std::size_t>(hits.size() - stretchStart, recentHits);
    if (count < (stretchStart > 0 ? 2u : 3u))
        return false;
    const BurstHit& origin = hits[hits.size() - count];
    double n = 0, sumP = 0, sumT = 0, sumPP = 0, sumPT = 0;
    for (std::size_t i = hits.size() - count; i < hits.size(); ++i) {
        double p = hits[i].played - origin.played, t = hits[i].time - origin.time;
        n += 1;
        sumP += p;
        sumT += t;
        sumPP += p * p;
        sumPT += p * t;
    }
    double spread = n * sumPP - sumP * sumP;
    if (!(spread > 0))
        return false;
    slope = (n * sumPT - sumP * sumT) / spread;
    return true;
}

double BurstTrack::ratio(double nominal) const
{
    double slope;
    if (fitted(slope))
        return slope;
    return carriedRatio > 0 ? carriedRatio : nominal;
}

bool BurstTrack::matchesWorse(double score) const
{
    if (hits.size() < 3)
        return false;
    std::vector<double> left;
    for (std::size_t i = hits.size() - std::min<std::size_t>(hits.size(), recentHits); i < hits.size(); ++i)
        left.push_back(unexplainedShare(hits[i].score));
    std::nth_element(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(left.size() / 2), left.end());
    // Only a track whose bursts its shape all but wholly explains (a
    // loopback's) tells a neighbouring cycle by its match; in a device's
    // noise or filters the match varies from step to step anyway.
    const double usual = left[left.size() / 2];
    return usual <= closeMatch && unexplainedShare(score) > 4 * usual + worseMatch;
}

double BurstTrack::predictStart(const StepTable& table, double nominal, std::int64_t burst) const
{
    double offset = table.playedOffset(burst);
    if (hits.empty())
        return double(proposal) + nominal * offset;
    // From the last hit, by the recent clock (the nominal one until three
    // hits are in).
    const BurstHit& last = hits.back();
    return last.time + ratio(nominal) * (offset - last.played);
}

int BurstTrack::reach(const StepTable& table, const BurstShape& shape, double nominal, std::int64_t burst) const
{
    // Once three hits of the stretch fix the clock, the prediction is good
    // to a fraction of a frame: a narrow search cannot land a cycle away
    // on a burst of a few samples a cycle.
    bool settled = hits.size() - stretchStart >= 3;
    double clock = settled ? 0.5 : 3;
    if (!hits.empty()) {
        double distance = nominal * (table.playedOffset(burst) - hits.back().played);
        clock += (!settled && carriedRatio == 0 ? clockTolerance : 2e-5) * std::fabs(distance);
    }
    // The detector's proposal is only as good as the envelope of a burst
    // that may be cut or filtered: the first match searches the burst's
    // whole length around it.
    double total = hits.empty() ? clock + std::min(shape.span + shape.halfPeriod, 2048.0)
                                : clock + std::min(shape.halfPeriod / 2, 32.0);
    return static_cast<int>(std::min(total, 16384.0));
}

void BurstTrack::addHit(const BurstHit& hit, double expected, double nominal)
{
    // A stretch of one hit has no clock of its own to be far from.
    if (jumpAhead || (hits.size() >= stretchStart + 2 && std::fabs(hit.time - expected) > jumpFrames)) {
        carriedRatio = ratio(nominal);
        stretchStart = hits.size();
    }
    hits.push_back(hit);
    missesInRow = 0;
    jumpAhead = false;
}
