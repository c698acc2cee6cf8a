#include "audio/real_fft.h"

#include <fftw3.h>

#include <algorithm>
#include <cstring>

RealFft::RealFft(std::size_t n) : size(n)
{
    time = fftw_alloc_real(size);
    fftw_complex* bins = fftw_alloc_complex(size / 2 + 1);
    frequency = bins;
    // Planned by estimate: a run makes a few thousand transforms, so
    // measuring plans would cost more than it saves.
    forwardPlan = fftw_plan_dft_r2c_1d(static_cast<int>(size), time, bins, FFTW_ESTIMATE);
    inversePlan = fftw_plan_dft_c2r_1d(static_cast<int>(size), bins, time, FFTW_ESTIMATE);
}

RealFft::~RealFft()
{
    fftw_destroy_plan(static_cast<fftw_plan>(forwardPlan));
    fftw_destroy_plan(static_cast<fftw_plan>(inversePlan));
    fftw_free(time);
    fftw_free(frequency);
}

void RealFft::forward(const double* samples, std::size_t count, std::vector<std::complex<double>>& out)
{
    count = std::min(count, size);
    std::copy(samples, samples + count, time);
    std::fill(time + count, time + size, 0.0);
    fftw_execute(static_cast<fftw_plan>(forwardPlan));
    out.resize(bins());
    // fftw_complex and std::complex<double> share their layout.
    std::memcpy(static_cast<void*>(out.data()), frequency, bins() * sizeof(fftw_complex));
}

void RealFft::inverse(const std::vector<std::complex<double>>& in, double* samples, std::size_t count)
{
    std::memcpy(frequency, static_cast<const void*>(in.data()), bins() * sizeof(fftw_complex));
    fftw_execute(static_cast<fftw_plan>(inversePlan));
    const double scale = 1.0 / double(size);
    for (std::size_t i = 0; i < std::min(count, size); ++i)
        samples[i] = time[i] * scale;
}
