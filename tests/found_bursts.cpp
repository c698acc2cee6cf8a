#include "tests/found_bursts.h"

#include "common/tone_burst.h"
#include "common/units.h"
#include "tests/test_support.h"

#include <cmath>

const StepTable& sweepFrom100Hz()
{
    static const StepTable table = StepTable::from(scheduleFor({"22050", "1", "100"}));
    return table;
}

TimingSolution FoundBursts::solve(BurstLocator& locator, ReferenceChoice choice) const
{
    fill(locator);
    return solveTiming(locator, choice);
}

double FoundBursts::burstStart(int c, std::int64_t burst) const
{
    const double ratio = inputRate / sampleRate * (1 + ppm * 1e-6);
    return (double(table.delay) + table.playedOffset(burst)) * ratio + latency + lag[c] + moved(burst);
}

void FoundBursts::fill(BurstLocator& locator) const
{
    locator.start(table, inputRate);
    for (int c = 0; c < BurstLocator::channelCount; ++c) {
        ChannelBursts& found = locator.channels[c].result;
        found.found = true;
        const double amplitude = gain[c] * driveAmplitude;
        const double power = amplitude * amplitude / 2;
        for (std::int64_t b = 0; b < table.bursts(); ++b) {
            if (missing[c].count(b) != 0)
                continue;
            const BurstShape& shape = locator.shapes[static_cast<std::size_t>(b / table.numAvg)];
            BurstHit hit;
            hit.burst = b;
            hit.time = burstStart(c, b) + shape.span / 2;
            hit.played = table.playedOffset(b) + shape.span / (2 * locator.nominalRatio);
            hit.amplitude = hit.unclipped = gain[c];
            hit.peak = amplitude;
            hit.score = score[c];
            hit.power = power;
            hit.playedStep = static_cast<int>(b / table.numAvg);
            hit.playedScore = score[c];
            const bool hitHard = struck[c].count(b) != 0;
            hit.leftOver.tone = hit.leftOver.inside = tone[c] + (hitHard ? 1e-2 : 0);
            hit.leftOver.fundamental = gain[c];
            hit.leftOver.before = hit.leftOver.after = 1e-9;
            touch(c, hit);
            found.hits.push_back(hit);
        }
        if (!found.hits.empty()) {
            found.firstStart = burstStart(c, found.hits.front().burst);
            found.firstPower = power;
        }
        found.leadIn.frames = static_cast<std::int64_t>(found.firstStart);
        found.leadIn.variance = noise;
        found.leadIn.loudestBlock = 2 * noise;
    }
    locator.pushed = static_cast<std::int64_t>(burstStart(0, table.bursts()) + table.interval);
}
