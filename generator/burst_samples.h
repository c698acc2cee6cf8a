#pragma once

#include <cstdint>

/// Fills `samples[0 .. frames - 1]` with the tone burst's samples, each
/// equal to toneBurstSample(i, omega), bit for bit, at a fraction of the
/// cost of two cosines per frame (see the source for why they are equal).
void computeBurstSamples(std::int32_t frames, double omega, std::int16_t* samples);
