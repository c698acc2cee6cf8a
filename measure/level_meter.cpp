#include "measure/level_meter.h"

#include "common/report_format.h"
#include "common/units.h"

#include <cmath>

namespace {

// A 16-bit converter's largest value on the server's scale: a sample that
// reaches it is pinned at the rail.
constexpr double railLevel = largestCode16 / sampleScale16;

} // namespace

void LevelMeter::take(const float* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        double level = std::fabs(double(samples[i]));
        if (level > peak)
            peak = level;
        if (level >= railLevel)
            ++clipped;
    }
}

double LevelMeter::dbfs() const
{
    return peak > 0 ? 20.0 * std::log10(peak) : -INFINITY;
}

std::string dbfsText(double dbfs, int decimals)
{
    return fixedText(dbfs, decimals);
}
