#pragma once

#include <cstdint>

/// Sample `i` of a step's tone burst: 12000 * (cos x - cos 2x) with
/// x = i * omega, truncated toward zero. The fundamental minus its second
/// harmonic lies within -24000 .. 13500, so every sample fits 16 bits.
std::int16_t toneBurstSample(std::int32_t i, double omega);
