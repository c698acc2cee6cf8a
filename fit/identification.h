#pragma once

#include "audio/real_fft.h"
#include "fit/impulse_fit.h"
#include "fit/response_window.h"
#include "locator/step_table.h"

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

/// What the fit reads at one frequency on one channel. Not-a-number where
/// the channel's steps there were damaged or missing.
struct ChannelReading {
    std::complex<double> response{NAN, NAN};
    double err = NAN;    ///< standard uncertainty of the level, dB
    double dist = NAN;   ///< what the linear response does not explain, less the noise, dB below it
    double noise = NAN;  ///< the noise in the step's window, dB below the linear response
};

/// What one step's window held, and what became of it.
struct StepFigures {
    bool used = false;          ///< gathered and undamaged
    std::size_t windowAt = 0;   ///< where its averaged window lies in the store
    double silentPower = 0;     ///< mean square of the silence after the window
    std::size_t silentFrames = 0;
    double linear = 0, residual = 0;  ///< energies of the prediction and of what it misses
};

/// A window (a gate, or the response's own length after the arrival) reads
/// a frequency only where it holds this many of its periods.
constexpr double gatePeriods = 3;

/// Identifies each channel's impulse response from the aligned recording:
/// over every step of a sweep (one response), or per step of a polar run.
/// Steps arrive as averaged spans from a StepGatherer.
struct Identification {
    StepTable table;
    std::size_t taps = sweepTaps;
    std::size_t size = 0;        ///< transform size
    std::size_t longest = 0;     ///< the longest burst, frames
    bool perStep = false;        ///< a polar run
    const std::vector<std::uint8_t>* verdict[2] = {nullptr, nullptr};
    std::size_t lead = leadTaps;  ///< taps before the arrival: `leadTapsFor` the recording's rate
    /// The share of the player's band that the recording's noise fills:
    /// below 44100 Hz the recorder's, so its noise per hertz is that much
    /// denser than its power per frame says.
    double noiseBand = 1;
    double arrival[2] = {double(leadTaps), double(leadTaps)};  ///< each channel's arrival, taps
    std::unique_ptr<RealFft> fft;

    std::vector<ImpulseFit> fits;                 ///< per channel (sweep), or per step and channel (polar)
    std::vector<std::vector<double>> responses;   ///< the same layout: each an impulse response
    std::vector<StepFigures> figures[2];          ///< per step
    double noisePower[2] = {0, 0};                ///< per frame, over every used step
    /// Transforms reused from step to step, so that memory is not asked
    /// for again at every step.
    std::vector<std::complex<double>> stimulusBins, recordingBins, responseBins[2];
    std::vector<double> predicted;
    /// Every step's averaged window (from `lead` before the burst),
    /// kept until the sweep's response is known; one block, touched only
    /// where written. A polar run keeps one step's at a time.
    std::unique_ptr<float[]> windowStore;

    /// Sets up for `steps` in a recording at `inputRate` Hz: taps, transform
    /// size. False when the bursts fill so much of their interval that no
    /// response fits between them.
    bool begin(const StepTable& steps, const std::vector<std::uint8_t> (&damagedSteps)[2], double inputRate);

    /// Takes one step's averaged span (from `lead` before its burst).
    void addStep(std::size_t step, const std::vector<double> (&span)[2]);

    /// Solves the sweep's responses and works out every step's residual.
    void finish();

    /// The used steps of channel `c` whose window the response explains far
    /// worse than their neighbours' (a dropout or a click inside a burst):
    /// what the model misses is 20 dB above the neighbours' median and
    /// above -30 dB of the step's response. 0-based, in order.
    std::vector<std::int64_t> departingSteps(int c) const;

    /// Frames of a step's span that must have arrived for it to count: its
    /// window, for the longest burst.
    std::size_t neededFrames() const;

    /// Channel `c`'s impulse response for step `step` (the sweep's one for
    /// every step).
    const std::vector<double>& response(int c, std::size_t step) const;

    /// The reading at step `step`'s frequency, through `window` (or the
    /// frequency's own where `gateFrames` is 0).
    ChannelReading readStep(int c, std::size_t step, double gateFrames) const;
    /// The reading of a sweep at any frequency, without the step figures.
    ChannelReading readFrequency(int c, double frequency, double gateFrames) const;

private:
    std::size_t windowFrames(std::size_t step) const;
    /// Where channel `c`'s fit for step `step` lies in `fits` and `responses`.
    std::size_t fitIndex(int c, std::size_t step) const;
    void stimulus(std::size_t step, std::vector<std::complex<double>>& bins);
    void measureResidual(int c, std::size_t step);
    const ImpulseFit& fitOf(int c, std::size_t step) const;
    ChannelReading read(int c, std::size_t step, double frequency, double gateFrames, double noise) const;
};
