#pragma once

#include <cstdint>
#include <iosfwd>

/// The decimal constant every program uses for a full turn; it is not the
/// nearest double to 2 pi, and generator and analyzer must agree on it.
constexpr double fullTurn = 6.2831853071796;

/// Each mode's fixed shape: a sweep's steps and last frequency, a polar
/// run's steps and frames per step.
constexpr std::int32_t sweepSteps = 201;
constexpr double sweepEndFreq = 10000.0;
constexpr std::int32_t polarSteps = 72;
constexpr std::int32_t polarInterval = 44100;

/// The run's settings and the state of its current step, shared by both
/// programs so that the analyzer finds every burst at the frame where the
/// generator put it. Fields are in the order of the settings they describe;
/// the command line writes `delay`, `numAvg` and `startFreq` directly.
struct BurstSchedule {
    std::int32_t sampRate = 44100;    ///< sample frames per second
    std::int32_t duration = 0;        ///< burst length of the current step, frames
    std::int32_t interval = 22050;    ///< frames per repetition of a step
    std::int32_t minDuration = 100;   ///< least burst length, frames
    std::int32_t numSteps = 201;      ///< steps in the run
    std::int32_t remaining = 0;       ///< steps not yet finished
    std::int32_t numCyc = 1;          ///< whole cycles in the current burst
    double nomFreq = 100.0;           ///< nominal frequency of the current step, Hz
    double actFreq = 0.0;             ///< actual frequency of the current burst, Hz
    double endFreq = 10000.0;         ///< end frequency, Hz
    double ratio = 1.0;               ///< factor from one nominal frequency to the next
    double omega = 0.0;               ///< phase advance per frame at actFreq, radians
    bool sweep = true;                ///< true: frequency sweep; false: polar plot
    double startFreq = 100.0;         ///< start frequency, Hz
    std::int32_t delay = 22050;       ///< silent frames before the first step
    std::int32_t numAvg = 1;          ///< repetitions of every step
    bool burstFits = true;            ///< the current burst's numCyc and duration fit 32 bits

    /// A schedule that already describes the 100 Hz burst of one cycle.
    BurstSchedule();

    /// Stores the mode and installs its defaults: 201 steps from 100 to
    /// 10000 Hz for a sweep; 72 steps at 1000 Hz with an interval of 44100
    /// frames for a polar plot. A sweep keeps the interval as it is.
    void setMode(bool isSweep);
    /// The two modes, for calls that read as what they mean.
    static constexpr bool sweepMode = true;
    static constexpr bool polarMode = false;

    /// Starts the run at `startFreq` with every step still to come.
    void begin();

    /// True while steps remain.
    bool hasMore() const { return remaining > 0; }

    /// Moves to the following step (a sweep multiplies the nominal
    /// frequency by `ratio` once more). Returns false, changing nothing,
    /// when no step remains.
    bool next();

    /// Derives `numCyc`, `duration`, `actFreq` and `omega` from `nomFreq`.
    /// `numCyc` only grows: it becomes the least count not below its current
    /// value whose burst reaches `minDuration` frames. Values outside the
    /// 32-bit range (start frequencies the command line refuses) are clamped
    /// and `burstFits` is cleared.
    void computeBurst();

    /// Byte count of the WAV data chunk, (delay + numAvg * numSteps *
    /// interval) * 4, formed modulo 2^32 as the 32-bit size fields hold it.
    std::int32_t dataBytes() const;

    /// Writes the settings block and ends its line.
    void printSettings(std::ostream& report) const;

    /// Writes numCyc, duration, nomFreq and actFreq, tab-separated, without
    /// ending the line.
    void printRow(std::ostream& report) const;
};

/// The least whole cycle count n >= `fromCycles` with n * `samplesPerCycle`
/// >= `minDuration`, compared in double exactly as counting up one by one
/// would, but in constant time. Infinity when no count reaches it.
double cyclesReaching(double fromCycles, double samplesPerCycle, double minDuration);
