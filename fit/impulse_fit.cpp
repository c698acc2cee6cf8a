#include "fit/impulse_fit.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double tolerance = 1e-9;
constexpr int mostIterations = 300;

double dot(const std::vector<double>& a, const std::vector<double>& b)
{
    return std::inner_product(a.begin(), a.end(), b.begin(), 0.0);
}

// The first `taps` samples of the inverse of (transform of v) * weight[k].
void weighted(RealFft& fft, const std::vector<double>& v, const std::vector<double>& weight,
              std::vector<std::complex<double>>& bins, std::vector<double>& out)
{
    fft.forward(v.data(), v.size(), bins);
    for (std::size_t k = 0; k < bins.size(); ++k)
        bins[k] *= weight[k];
    out.resize(v.size());
    fft.inverse(bins, out.data(), out.size());
}

} // namespace

ImpulseFit::ImpulseFit(std::size_t tapCount, std::size_t transform)
    : taps(tapCount), size(transform), power(transform / 2 + 1, 0.0), cross(transform / 2 + 1)
{
}

void ImpulseFit::add(const std::vector<std::complex<double>>& stimulus,
                     const std::vector<std::complex<double>>& recording)
{
    for (std::size_t k = 0; k < power.size(); ++k) {
        power[k] += std::norm(stimulus[k]);
        largestPower = std::max(largestPower, power[k]);
        cross[k] += recording[k] * std::conj(stimulus[k]);
    }
}

double ImpulseFit::lambda(double relative) const
{
    return relative * largestPower;
}

std::vector<double> ImpulseFit::solve(RealFft& fft, double relative) const
{
    const double shift = lambda(relative);
    std::vector<double> inverse(power.size());
    for (std::size_t k = 0; k < power.size(); ++k)
        inverse[k] = shift > 0 ? 1 / (power[k] + shift) : 0.0;
    std::vector<std::complex<double>> bins;
    std::vector<double> c(taps);
    fft.inverse(cross, c.data(), taps);
    const double norm = std::sqrt(dot(c, c));
    std::vector<double> h, ah, z, p, ap;
    // The preconditioner alone is the circular solution: a good start.
    weighted(fft, c, inverse, bins, h);
    if (norm == 0)
        return h;
    auto apply = [&](const std::vector<double>& v, std::vector<double>& out) {
        weighted(fft, v, power, bins, out);
        for (std::size_t i = 0; i < taps; ++i)
            out[i] += shift * v[i];
    };
    apply(h, ah);
    std::vector<double> r(taps);
    for (std::size_t i = 0; i < taps; ++i)
        r[i] = c[i] - ah[i];
    weighted(fft, r, inverse, bins, z);
    p = z;
    double rz = dot(r, z);
    for (int iteration = 0; iteration < mostIterations && std::sqrt(dot(r, r)) > tolerance * norm; ++iteration) {
        apply(p, ap);
        double curvature = dot(p, ap);
        if (!(curvature > 0))
            break;
        double alpha = rz / curvature;
        for (std::size_t i = 0; i < taps; ++i) {
            h[i] += alpha * p[i];
            r[i] -= alpha * ap[i];
        }
        weighted(fft, r, inverse, bins, z);
        double next = dot(r, z);
        double beta = next / rz;
        rz = next;
        for (std::size_t i = 0; i < taps; ++i)
            p[i] = z[i] + beta * p[i];
    }
    return h;
}

std::size_t transformSize(std::size_t window, std::size_t burst, std::size_t taps)
{
    std::size_t size = 1;
    while (size < std::max(window + burst, 2 * taps))
        size *= 2;
    return size;
}

std::size_t leadTapsFor(double inputRate)
{
    return inputRate < sampleRate ? slowRecorderLeadTaps : leadTaps;
}
