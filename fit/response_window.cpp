#include "fit/response_window.h"

#include "common/units.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double periodsKept = 40;
constexpr double shortestWindow = 256;
// The phasor is worked out afresh this often, so that rounding cannot grow.
constexpr std::size_t phasorRefresh = 256;

} // namespace

ResponseWindow ResponseWindow::forFrequency(double frequency, double arrival, std::size_t taps)
{
    double length = std::clamp(periodsKept * sampleRate / frequency, shortestWindow, double(taps));
    ResponseWindow window;
    window.end = std::min(double(taps), arrival + length);
    window.flatEnd = std::min(window.end, arrival + length / 2);
    return window;
}

ResponseWindow ResponseWindow::gate(double frames, double arrival, std::size_t taps)
{
    ResponseWindow window;
    window.end = std::min(double(taps), arrival + frames);
    window.flatEnd = std::min(window.end, arrival + 0.75 * frames);
    return window;
}

double ResponseWindow::weight(std::size_t tap) const
{
    double t = double(tap);
    if (t < begin || t >= end)
        return 0;
    if (t < flatEnd)
        return 1;
    return 0.5 * (1 + std::cos(pi * (t - flatEnd) / (end - flatEnd)));
}

double ResponseWindow::energy() const
{
    // A half-Hann taper's squared weights average 3/8.
    return (flatEnd - begin) + 0.375 * (end - flatEnd);
}

std::complex<double> responseAt(const std::vector<double>& h, double frequency, const ResponseWindow& window,
                                double origin)
{
    const double omega = turn * frequency / sampleRate;
    const std::complex<double> rotation = std::polar(1.0, -omega);
    std::size_t first = static_cast<std::size_t>(std::ceil(window.begin));
    std::size_t last = std::min(h.size(), static_cast<std::size_t>(std::ceil(window.end)));
    std::complex<double> sum = 0, phasor = 0;
    for (std::size_t m = first; m < last; ++m) {
        if ((m - first) % phasorRefresh == 0)
            phasor = std::polar(1.0, -omega * (double(m) - origin));
        sum += window.weight(m) * h[m] * phasor;
        phasor *= rotation;
    }
    return sum;
}

double levelUncertaintyDb(std::complex<double> response, double noisePower, const ResponseWindow& window,
                          const std::vector<double>& power, double lambda, std::size_t size,
                          double frequency)
{
    double magnitude = std::abs(response);
    if (noisePower <= 0)
        return 0;
    if (!(magnitude > 0))
        return INFINITY;
    // The window's length resolves bins this far apart; the noise of the
    // least-squares response in each goes as 1 / S there.
    double length = std::max(1.0, window.end - window.begin);
    double centre = frequency / sampleRate * double(size);
    double half = std::max(0.5, 0.5 * double(size) / length);
    std::size_t low = static_cast<std::size_t>(std::max(0.0, std::floor(centre - half)));
    std::size_t high = std::min(power.size() - 1, static_cast<std::size_t>(std::ceil(centre + half)));
    double inverse = 0;
    for (std::size_t k = low; k <= high; ++k)
        inverse += 1 / (power[k] + lambda);
    inverse /= double(high - low + 1);
    double variance = noisePower * window.energy() * inverse;
    // Half the complex variance lies along the response: the level's part.
    double relative = std::sqrt(variance / 2) / magnitude;
    return 20 * std::log10(1 + relative);
}
