#pragma once

#include <complex>
#include <cstddef>
#include <vector>

/// Which taps of an impulse response count towards its response at one
/// frequency: none before `begin`, all up to `flatEnd`, then a half-Hann
/// taper that reaches zero at `end`. Every tap before a channel's arrival
/// counts: a band-limited onset (a converter's filter, a fractional delay)
/// rings before it, and cutting that ringing bends the low frequencies.
struct ResponseWindow {
    double begin = 0, flatEnd = 0, end = 0;

    /// The frequency's own window from `arrival` (the channel's arrival,
    /// in taps): flat to T / 2 after it and tapered to T, with T = 40 periods
    /// of `frequency`, at least 256 taps and at most `taps`.
    static ResponseWindow forFrequency(double frequency, double arrival, std::size_t taps);
    /// A fixed gate of `frames` from `arrival`, tapered over its last quarter.
    static ResponseWindow gate(double frames, double arrival, std::size_t taps);

    double weight(std::size_t tap) const;
    /// The sum of the squared weights: how much noise the window lets
    /// through.
    double energy() const;
};

/// The response of `h` at `frequency` Hz through `window`, with tap
/// `origin` at time zero: sum of w[m] h[m] exp(-i omega (m - origin)).
std::complex<double> responseAt(const std::vector<double>& h, double frequency, const ResponseWindow& window,
                                double origin);

/// The standard uncertainty of a level read as `response`, in dB: noise of
/// `noisePower` per frame through `window`'s taps, against a stimulus whose
/// power per bin is `power` (bins of a `size`-point transform, `lambda`
/// added), averaged over the bins the window's length resolves.
double levelUncertaintyDb(std::complex<double> response, double noisePower, const ResponseWindow& window,
                          const std::vector<double>& power, double lambda, std::size_t size,
                          double frequency);
