#pragma once

#include <cstdint>

/// The burst's drive level in sample units: the fundamental's amplitude that
/// a unity-gain recording keeps, and what the analyzer's scale is made from.
constexpr double driveAmplitude = 12000.0;

/// The analyzer divides each burst's DFT sum by frames * this: a cosine of
/// amplitude A sums to frames * A / 2, so a unity-gain path reads 1.
constexpr double analyzerScale = driveAmplitude / 2;

/// Sample `i` of a step's tone burst: 12000 * (cos x - cos 2x) with
/// x = i * omega, truncated toward zero. The fundamental minus its second
/// harmonic lies within -24000 .. 13500, so every sample fits 16 bits.
std::int16_t toneBurstSample(std::int32_t i, double omega);
