#include "burst_track.h"

#include <algorithm>
#include <cmath>

namespace {

// Recorder clocks differ from the player's by at most this much before
// the first hits measure the difference.
constexpr double clockTolerance = 2e-3;

} // namespace

bool BurstTrack::fitted(double& slope, double& intercept) const
{
    if (count < 3)
        return false;
    double spread = count * sumPP - sumP * sumP;
    if (!(spread > 0))
        return false;
    slope = (count * sumPT - sumP * sumT) / spread;
    intercept = (sumT - slope * sumP) / count;
    return true;
}

double BurstTrack::scale(double nominal) const
{
    double slope, intercept;
    return fitted(slope, intercept) ? slope : nominal;
}

double BurstTrack::predictStart(const StepTable& table, double nominal, std::int64_t burst) const
{
    double offset = table.playedOffset(burst);
    if (hits.empty())
        return double(proposal) + nominal * offset;
    double slope, intercept;
    if (fitted(slope, intercept))
        return hits.front().time + intercept + slope * (offset - hits.front().played);
    // One or two hits: the last one and the nominal clock.
    const BurstHit& last = hits.back();
    return last.time + nominal * (offset - last.played);
}

int BurstTrack::reach(const StepTable& table, const BurstShape& shape, double nominal, std::int64_t burst) const
{
    double clock = 3;
    if (!hits.empty()) {
        double distance = nominal * (table.playedOffset(burst) - hits.back().played);
        clock += (count < 3 ? clockTolerance : 2e-5) * std::fabs(distance);
    }
    // The detector's proposal is only as good as the envelope of a burst
    // that may be cut or filtered: the first match searches the burst's
    // whole length around it.
    double total = hits.empty() ? clock + std::min(shape.span + shape.halfPeriod, 2048.0)
                                : clock + std::min(shape.halfPeriod / 2, 32.0);
    return static_cast<int>(std::min(total, 16384.0));
}

void BurstTrack::addHit(const BurstHit& hit)
{
    hits.push_back(hit);
    double p = hit.played - hits.front().played;
    double t = hit.time - hits.front().time;
    count += 1;
    sumP += p;
    sumT += t;
    sumPP += p * p;
    sumPT += p * t;
    missesInRow = 0;
}
