#include "measure/progress.h"

#include <cstdio>
#include <ostream>

std::int32_t stepAt(const BurstSchedule& schedule, std::int64_t frame)
{
    if (frame < schedule.delay)
        return 0;
    std::int64_t repetition = (frame - schedule.delay) / schedule.interval;
    std::int64_t step = repetition / schedule.numAvg + 1;
    return step > schedule.numSteps ? schedule.numSteps + 1 : static_cast<std::int32_t>(step);
}

namespace {

std::string levelText(int input, const LevelMeter& meter)
{
    std::string text = "   in " + std::to_string(input) + ": " + dbfsText(meter.dbfs(), 1) + " dBFS";
    if (meter.clipped > 0)
        text += " CLIPPED";
    return text;
}

} // namespace

std::string progressText(double elapsed, double total, std::int32_t step, std::int32_t steps,
                         const LevelMeter& first, const LevelMeter& second)
{
    char times[64];
    std::snprintf(times, sizeof times, "%6.1f s of %.1f s", elapsed, total);
    std::string text = times;
    if (steps > 0) {
        if (step == 0)
            text += "   lead-in";
        else if (step > steps)
            text += "   tail";
        else
            text += "   step " + std::to_string(step) + " of " + std::to_string(steps);
    }
    return text + levelText(1, first) + levelText(2, second);
}

bool ProgressReport::due(double now) const
{
    return lastShown < 0 || now - lastShown >= (terminal ? 0.2 : 10.0);
}

void ProgressReport::show(double now, const std::string& text)
{
    lastShown = now;
    if (terminal)
        *out << '\r' << text << "\x1b[K" << std::flush;
    else
        *out << text << std::endl;
}

void ProgressReport::finish()
{
    if (terminal && lastShown >= 0)
        *out << std::endl;
}
