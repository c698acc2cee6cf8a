#include "fit/step_gatherer.h"

#include <algorithm>

StepGatherer::StepGatherer(const StepTable& steps, std::int64_t leadFrames, std::size_t neededFrames,
                           StepDone onStep)
    : table(steps), lead(leadFrames), needed(neededFrames), done(std::move(onStep))
{
}

bool StepGatherer::take(std::int64_t first, const double* pairs, std::int64_t count)
{
    const std::int64_t interval = table.interval;
    std::int64_t i = std::max<std::int64_t>(0, table.delay - lead - first);
    while (i < count) {
        // A run of frames within one repetition's span.
        std::int64_t since = first + i - table.delay + lead;
        std::int64_t burst = since / interval;
        if (burst >= table.bursts())
            break;
        std::int64_t at = since - burst * interval;
        std::int64_t run = std::min(count - i, interval - at);
        if (burst / table.numAvg != step) {
            close();
            step = burst / table.numAvg;
            for (std::vector<double>& channel : sum)
                channel.assign(static_cast<std::size_t>(interval), 0.0);
        }
        if (burst != repetition) {
            repetition = burst;
            ++repetitions;
        }
        reached = at + run;
        for (std::int64_t j = 0; j < run; ++j)
            for (int c = 0; c < 2; ++c)
                sum[c][static_cast<std::size_t>(at + j)] += pairs[2 * (i + j) + c];
        i += run;
    }
    return true;
}

void StepGatherer::finish()
{
    close();
}

void StepGatherer::close()
{
    // A step whose last repetition was cut before its span's needed part
    // is left out: its average would mix cut and whole repetitions.
    if (step >= 0 && repetitions > 0 && reached >= static_cast<std::int64_t>(needed)) {
        for (std::vector<double>& channel : sum)
            for (double& sample : channel)
                sample /= repetitions;
        done(static_cast<std::size_t>(step), sum);
    }
    step = -1;
    repetition = -1;
    repetitions = 0;
    reached = 0;
}
