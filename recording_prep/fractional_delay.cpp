#include "fractional_delay.h"

#include <cmath>

namespace {

// Kaiser window shape; 9 puts its side lobes near -90 dB, far below what
// the passband up to 20 kHz can show.
constexpr double beta = 9.0;

double besselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

} // namespace

void FractionalDelay::start(double advance)
{
    const double pi = std::acos(-1.0);
    const double half = taps / 2;
    double total = 0;
    for (int k = 0; k < taps; ++k) {
        // Tap k weighs input frame j + (k - half + 1); its distance from the
        // wanted instant j + advance:
        double x = k - half + 1 - advance;
        double sinc = x == 0 ? 1.0 : std::sin(pi * x) / (pi * x);
        double r = x / half;
        double window = r * r < 1 ? besselI0(beta * std::sqrt(1 - r * r)) / besselI0(beta) : 0.0;
        weights[k] = sinc * window;
        total += weights[k];
    }
    // Unity gain at 0 Hz.
    for (double& weight : weights)
        weight /= total;
}
