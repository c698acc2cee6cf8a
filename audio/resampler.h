#pragma once

#include <cstddef>
#include <vector>

/// One channel's rate conversion by soxr at its very high quality: output
/// frame j is the input at frame j * ratio, band-limited.
struct Resampler {
    void* handle = nullptr;  ///< the library's soxr_t

    Resampler() = default;
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;
    ~Resampler();

    /// Starts a conversion taking `ratio` input frames per output frame.
    /// False when the library refuses it.
    bool start(double ratio);

    /// Starts a conversion from `inputRate` to `outputRate` frames per
    /// second, whose ratio the library forms itself (exact for whole rates).
    bool start(double inputRate, double outputRate);

    /// Takes `count` input samples and appends what comes out to `output`.
    void process(const double* input, std::size_t count, std::vector<double>& output);

    /// Drains the filter at the end of the input into `output`.
    void finish(std::vector<double>& output);
};
