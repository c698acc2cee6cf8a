#include "generator/burst_samples.h"

#include "common/tone_burst.h"

#include <algorithm>
#include <cmath>

// Sample i is 12000 * (cos x - cos 2x) with x = i * omega as a double,
// truncated. Two library cosines per frame are most of the generator's
// work, yet only the integer part of the value matters. So each value is
// first worked out quickly to within a small, known error, and taken when
// every value within that error truncates to the same integer, which the
// exact value then does too. The few others (about two in ten million, and
// any burst with a non-finite phase) are worked out exactly.
//
// The quick cosine. Frames are taken in blocks of `blockFrames`. Frame
// i = b + k of the block at b has x = xb + d with xb = b * omega; d is
// exact (xb <= x <= 2 xb, or b = 0) and lies within a rounding of
// yk = k * omega, and the rest e = d - yk is exact as well. With cos and
// sin of xb (once per block) and of yk (once per burst) from the library:
//   cos x = cos xb (cos yk - e sin yk) - sin xb (sin yk + e cos yk)
// up to e^2 / 2 (e is below 1e-10, even for x near 1e5), and cos 2x =
// 2 cos^2 x - 1. Each library value is within an ulp; all told the quick
// value lies within 2e-10 of the exact one, well inside the margin, while
// x stays below `quickReach` (e grows with x's rounding).

namespace {

constexpr int blockFrames = 16;
constexpr double quickMargin = 1e-7;
constexpr double quickReach = 1e6;

} // namespace

void computeBurstSamples(std::int32_t frames, double omega, std::int16_t* samples)
{
    if (!(std::fabs(omega * frames) <= quickReach)) {
        for (std::int32_t i = 0; i < frames; ++i)
            samples[i] = toneBurstSample(i, omega);
        return;
    }
    double stepAngle[blockFrames], stepCos[blockFrames], stepSin[blockFrames];
    for (int k = 0; k < blockFrames; ++k) {
        stepAngle[k] = k * omega;
        stepCos[k] = std::cos(stepAngle[k]);
        stepSin[k] = std::sin(stepAngle[k]);
    }
    for (std::int32_t b = 0; b < frames; b += blockFrames) {
        const double xb = b * omega;
        const double cosB = std::cos(xb);
        const double sinB = std::sin(xb);
        const std::int32_t end = std::min(frames, b + blockFrames);
        for (std::int32_t i = b; i < end; ++i) {
            const int k = i - b;
            const double e = (i * omega - xb) - stepAngle[k];
            const double cosD = stepCos[k] - e * stepSin[k];
            const double sinD = stepSin[k] + e * stepCos[k];
            const double c = cosB * cosD - sinB * sinD;
            const double value = driveAmplitude * (c - (2 * c * c - 1));
            const int low = static_cast<int>(value - quickMargin);
            const int high = static_cast<int>(value + quickMargin);
            samples[i] = low == high ? static_cast<std::int16_t>(low) : toneBurstSample(i, omega);
        }
    }
}
