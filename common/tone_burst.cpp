#include "common/tone_burst.h"

#include <cmath>

std::int16_t toneBurstSample(std::int32_t i, double omega)
{
    double x = i * omega;
    double value = driveAmplitude * (std::cos(x) - std::cos(2.0 * x));
    return static_cast<std::int16_t>(static_cast<int>(value));
}
