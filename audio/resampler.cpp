#include "audio/resampler.h"

#include "common/units.h"

#include <soxr.h>

Resampler::~Resampler()
{
    if (handle != nullptr)
        soxr_delete(static_cast<soxr_t>(handle));
}

bool Resampler::start(double ratio)
{
    // The rates matter only as their ratio.
    return start(ratio * sampleRate, sampleRate);
}

bool Resampler::start(double inputRate, double outputRate)
{
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    // The bursts' second harmonic reaches 20.1 kHz: keep the passband
    // flat up to 21.4 kHz at 44100 Hz rather than the library's 20.1
    // (the band is a fraction of the lower rate's half).
    quality.passband_end = 0.97;
    handle = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr);
    return error == nullptr && handle != nullptr;
}

namespace {

constexpr std::size_t chunk = 8192;

} // namespace

void Resampler::process(const double* input, std::size_t count, std::vector<double>& output)
{
    std::size_t taken = 0;
    while (taken < count) {
        std::size_t at = output.size();
        output.resize(at + chunk);
        std::size_t used = 0, written = 0;
        soxr_process(static_cast<soxr_t>(handle), input + taken, count - taken, &used, output.data() + at, chunk,
                     &written);
        output.resize(at + written);
        taken += used;
        if (used == 0 && written == 0)
            break;
    }
}

void Resampler::finish(std::vector<double>& output)
{
    for (;;) {
        std::size_t at = output.size();
        output.resize(at + chunk);
        std::size_t used = 0, written = 0;
        soxr_process(static_cast<soxr_t>(handle), nullptr, 0, &used, output.data() + at, chunk, &written);
        output.resize(at + written);
        if (written == 0)
            break;
    }
}
