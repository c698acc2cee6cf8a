#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// The peak of one input on the server's scale (full scale 1.0) and the
/// samples that reached the 16-bit rails.
struct LevelMeter {
    double peak = 0.0;
    std::int64_t clipped = 0;

    /// Takes `count` samples into the peak and the clip count.
    void take(const float* samples, std::size_t count);

    /// The peak in dBFS; minus infinity for silence.
    double dbfs() const;

    /// Starts again from silence.
    void reset() { *this = LevelMeter(); }
};

/// A level with `decimals` digits after the point, "-inf" for silence.
std::string dbfsText(double dbfs, int decimals);
