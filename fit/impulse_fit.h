#pragma once

#include "audio/real_fft.h"
#include "common/units.h"

#include <complex>
#include <cstddef>
#include <vector>

/// Taps of the impulse response: a sweep's, identified over all its steps,
/// and a polar run's, identified step by step (the device turns between
/// steps).
constexpr std::size_t sweepTaps = 16384;
constexpr std::size_t polarTaps = 1024;
/// Taps before the reference's arrival: what arrives a little early (a
/// filter's symmetric ringing, a channel ahead of the reference) is kept.
constexpr std::size_t leadTaps = 32;
/// The same for a recording below the player's rate: its converter's and
/// the resampler's filters ring before the arrival for milliseconds, near
/// its half rate where the top steps lie, and cut short that ringing
/// ripples the levels read there (by 0.29 dB at 9.9 kHz at 22050 Hz).
constexpr std::size_t slowRecorderLeadTaps = 512;

/// The taps kept before the arrival for a recording at `inputRate` Hz.
std::size_t leadTapsFor(double inputRate);

/// The least-squares normal equations for one channel's impulse response h
/// of `taps` taps, y = h * x, gathered over windows of stimulus x and
/// recording y, each zero-padded to `size` (at least twice `taps` and the
/// window plus its burst, so that no product wraps round).
struct ImpulseFit {
    std::size_t taps;
    std::size_t size;
    std::vector<double> power;                 ///< S: the sum of |X|^2 per bin
    double largestPower = 0;                   ///< the largest S, kept as windows are added
    std::vector<std::complex<double>> cross;   ///< C: the sum of Y X* per bin

    ImpulseFit(std::size_t taps, std::size_t size);

    /// Adds one window, given as its transforms.
    void add(const std::vector<std::complex<double>>& stimulus, const std::vector<std::complex<double>>& recording);

    /// Solves (T + lambda I) h = c, T the Toeplitz matrix of the stimulus's
    /// autocorrelation and c the cross-correlation (lambda = `relative` of
    /// the largest S): preconditioned conjugate gradients with FFT products
    /// and the preconditioner 1 / (S + lambda), to a relative residual of 1e-9.
    std::vector<double> solve(RealFft& fft, double relative) const;

    /// The regularisation added to every bin's power for `relative`.
    double lambda(double relative) const;
};

/// The readings' regularisation: a response held near zero where the steps
/// hardly excite it, so that no frequency between them reads noise.
constexpr double readingLambda = 1e-7;
/// The prediction's, which judges what a step's window holds beyond its
/// linear part: held back a hundred times less, so that the bursts' edges
/// above the top step, which the readings' response leaves out, are not
/// taken for distortion.
constexpr double predictionLambda = 1e-9;

/// The transform size for windows of up to `window` frames holding bursts
/// of up to `burst` frames and a response of `taps` taps: a power of two.
std::size_t transformSize(std::size_t window, std::size_t burst, std::size_t taps);
