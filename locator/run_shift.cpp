// Jumps the wide search cannot place: a channel whose bursts keep the
// generator's shape tells neighbouring steps of a sweep apart, so it can
// look over a whole interval and say which burst it heard there. The other
// channel, whose filtered bursts cannot tell, follows what it found.
#include "locator/burst_locator.h"

#include <algorithm>
#include <cmath>

bool BurstLocator::canTellStepsApart(const BurstTrack& track) const
{
    // A polar run's steps are one burst, and a falling sweep's neighbours
    // lie too close together to be told apart. Near a move just found, the
    // channel that found it decides: the other does not move the run back.
    if (!table.sweep || table.steps.size() < 2 || table.steps[1].nomFreq / table.steps[0].nomFreq < 1.005
        || track.hits.size() < 3)
        return false;
    if (!shifts.empty()) {
        const RunShift& latest = shifts.back();
        if (track.next < latest.fromBurst + std::llabs(latest.by) + 3 * std::int64_t(table.numAvg))
            return false;
    }
    return std::all_of(track.hits.end() - 3, track.hits.end(),
                       [](const BurstHit& hit) { return hit.score >= stepsTold; });
}

int BurstLocator::runReach(const BurstShape& shape, double trackRatio) const
{
    // A little more than half the interval either way: a burst moved by any
    // amount lies within, as itself or as a neighbour. The ring must hold
    // the search and the frames pushed before it is made.
    double half = 0.55 * table.interval * trackRatio;
    double held = (double(FrameRing::sampleCount) - shape.window() - 4096) / 2;
    return static_cast<int>(std::max(0.0, std::min(half, held)));
}

std::int64_t BurstLocator::heardBurst(const Channel& channel, const BurstTrack& track, const BurstFit& fit,
                                      double trackRatio) const
{
    // The nearest burst of each step within three of the expected one; a
    // neighbour's shape must explain the burst all but wholly and clearly
    // better (leave less than a quarter as much unexplained) to be taken
    // for it: a device's filters bend its bursts' frequency a little.
    // Its own shape explains it all but wholly: no neighbour can do four
    // times better.
    if (fit.score >= 0.99999)
        return track.next;
    std::int64_t after = track.hits.empty() ? 0 : track.hits.back().burst + 1;
    std::int64_t own = track.next / table.numAvg;
    std::int64_t best = track.next;
    double bestLeft = unexplainedShare(fit.score);
    std::vector<std::int64_t> tried;
    for (std::int64_t d = 1; d <= 3 * std::int64_t(table.numAvg); ++d)
        for (std::int64_t burst : {track.next + d, track.next - d}) {
            std::int64_t step = burst / table.numAvg;
            if (burst < after || burst >= table.bursts() || step == own
                || std::find(tried.begin(), tried.end(), step) != tried.end())
                continue;
            tried.push_back(step);
            BurstShape shape(table.steps[static_cast<std::size_t>(step)], trackRatio);
            int reach = static_cast<int>(std::min(shape.halfPeriod, 64.0)) + 2;
            if (!channel.ring.holds(std::max<std::int64_t>(0, static_cast<std::int64_t>(fit.time) - reach - 2),
                                    static_cast<std::int64_t>(fit.time) + reach + shape.window() + 2))
                continue;
            double score = fitBurst(channel.ring, shape, fit.time, reach, 1).score;
            double left = unexplainedShare(score);
            if (score >= stepsTold && left < 0.25 * bestLeft) {
                best = burst;
                bestLeft = left;
            }
        }
    return best;
}

void BurstLocator::followShifts(BurstTrack& track) const
{
    while (track.shiftsSeen < shifts.size()) {
        const RunShift& shift = shifts[track.shiftsSeen];
        if (track.next < shift.fromBurst)
            return;
        // What this track read from there on lay on the old line.
        while (!track.hits.empty() && track.hits.back().burst >= shift.fromBurst)
            track.hits.pop_back();
        track.stretchStart = std::min(track.stretchStart, track.hits.size());
        track.pendingMove += track.predictStart(table, nominalRatio, shift.fromBurst) + shift.moved
            - track.predictStart(table, nominalRatio, shift.fromBurst + shift.by);
        track.next = shift.fromBurst + shift.by;
        track.missesInRow = 0;
        track.jumpAhead = true;
        ++track.shiftsSeen;
    }
}
