#pragma once

#include <complex>
#include <cstddef>
#include <vector>

/// A real transform of one size through FFTW3, planned once: `forward`
/// takes `size` samples to size / 2 + 1 bins, `inverse` takes them back,
/// scaled by 1 / size so that inverse(forward(x)) is x.
struct RealFft {
    std::size_t size = 0;
    void* forwardPlan = nullptr;
    void* inversePlan = nullptr;
    double* time = nullptr;      ///< FFTW's aligned buffers
    void* frequency = nullptr;

    explicit RealFft(std::size_t size);
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;
    ~RealFft();

    std::size_t bins() const { return size / 2 + 1; }

    /// `count` samples of `samples`, zero-padded to `size`, into `bins`.
    void forward(const double* samples, std::size_t count, std::vector<std::complex<double>>& bins);
    /// `bins` into `count` samples of the scaled inverse (count <= size).
    void inverse(const std::vector<std::complex<double>>& bins, double* samples, std::size_t count);
};
