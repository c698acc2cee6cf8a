#pragma once

#include <cstdint>

/// Finds where the first step's burst begins in one channel of a recording.
/// Samples are pushed one at a time; for every lag k the search correlates
/// the frames k .. k + length - 1 with the burst's known waveform, and with
/// a unit phasor at the burst's frequency. Three stages:
/// - detection: the first lag whose normalised waveform correlation reaches
///   `threshold` (noise alone stays far below it);
/// - coarse: over the next `length` lags, the peak of the burst's envelope,
///   the magnitudes of its correlations with phasors at the fundamental and
///   at the second harmonic, which a filter's phase shifts do not move by
///   whole periods;
/// - fine: within half a period of the fundamental (at least three frames)
///   of that peak, the lag of the strongest waveform correlation, which is
///   exact for an unfiltered path.
/// Memory is fixed: rings of recent samples, energies and correlations.
struct OnsetSearch {
    static constexpr int maxLength = 2048;
    static constexpr int ringSize = 8192;       ///< power of two, above 2 * maxLength + 2 * maxReach
    static constexpr double threshold = 0.6;
    static constexpr int minReach = 3;
    static constexpr int maxReach = 1024;
    static constexpr int noiseGuard = 16;       ///< frames left out before the detection
    static constexpr int quietBlock = 32;

    enum class State { searching, refining, found };

    const std::int16_t* burst = nullptr;  ///< the waveform, `length` samples
    const double* phasorCos = nullptr;    ///< cos and sin of omega * i, `length` values
    const double* phasorSin = nullptr;
    int length = 0;
    int fineReach = minReach;
    std::int64_t burstEnergy = 0;

    std::int16_t samples[ringSize] = {};
    std::int64_t prefixEnergy[ringSize] = {};  ///< energy of all samples before each position
    std::int64_t correlations[ringSize] = {};  ///< waveform correlation at each lag
    std::int64_t pushed = 0;
    std::int64_t totalEnergy = 0;

    State state = State::searching;
    std::int64_t refineEnd = 0;
    std::int64_t noiseFrames = 0;   ///< frames before the detection, less the guard
    std::int64_t noiseEnergy = 0;
    std::int64_t blockEnergy = 0;     ///< of the block being filled, among the frames before a detection
    std::int64_t loudestBefore = 0;   ///< energy of the loudest whole block before a detection
    std::int64_t loudestLeadIn = 0;   ///< the same, fixed at the detection
    double envelopePeak = -1.0;
    std::int64_t envelopeLag = 0;
    std::int64_t bestLag = 0;

    /// Starts a search for the waveform `burst` whose fundamental turns by
    /// the phasors given, `samplesPerCycle` frames a turn (at most
    /// maxLength samples are used).
    void start(const std::int16_t* waveform, const double* cosines, const double* sines, int samplesInBurst,
               double samplesPerCycle);

    /// Adds the channel's next sample.
    void push(std::int16_t sample);

    bool found() const { return state == State::found; }

    /// True when the frames before the detection were quiet: some were
    /// seen, and neither their mean power nor that of their loudest block
    /// of `quietBlock` frames comes within 6 dB of the burst's. A recording
    /// that begins inside a step fails this.
    bool quietBefore() const;

    /// Ends a refinement cut short by the end of the data.
    void finish();

    /// Results, valid once found(): the onset frame, +1 or -1, and the
    /// burst's level above the noise before it in dB (inf when that noise is
    /// digital silence or there is none).
    std::int64_t onset() const { return bestLag; }
    int polarity() const;
    double levelAboveNoise() const;

private:
    std::int64_t energyBefore(std::int64_t position) const;
    void evaluate(std::int64_t lag);
    void chooseFineLag(std::int64_t lastLag);
};
