#pragma once

#include <cstdint>

/// What the checks of a recording found. The checks return these values;
/// the programs turn them into sentences with their own option names.
enum class FindingKind {
    // Why a recording does not follow the arguments' run (a refusal).
    wrongSpeed,           ///< bursts further apart and longer by one factor: the rate is mislabelled
    firstBurstElsewhere,  ///< the first sound carries another frequency than the run's first step
    repeatsDiffer,        ///< each step holds `repeats` bursts, not numAvg
    otherStart,           ///< the bursts follow a sweep from `frequency`
    harmonicTaken,        ///< a polar run at `frequency` whose second harmonic was taken for it
    otherFrequency,       ///< a polar run at `frequency`
    polarSpacing,         ///< bursts every 44100 frames: a polar run read as a sweep
    notFollowing,         ///< the bursts (the first near `frequency`) follow no step of the run
    allOneFrequency,      ///< a sweep's arguments, but every burst near `frequency`
    risingFrequency,      ///< a polar run's arguments, but the bursts rise from `frequency`
    startedLate,          ///< the first burst found is step `step`'s
    firstStepsUnheard,    ///< the same, though the recording holds `seconds` of quiet before that burst
    endsEarly,            ///< the recording ends in step `step`, `seconds` short
    lastBurstMissing,     ///< a polar run's loopback lacks its last burst though the recording goes on
    burstAfterRun,        ///< a polar run's bursts go on an interval after its last step
    // About a recording that is used (a warning or a note).
    clipped,              ///< channel `channel` reaches full scale from step `step` on; lower by `decibels`
    weak,                 ///< channel `channel`'s bursts only `decibels` above the lead-in's noise
    loopbackOnFirst,      ///< the loopback on channel 1, the device on channel 2
    noLoopback,           ///< no channel looks like a loopback
    loopbackVaries,       ///< the loopback on `channel` varies by `decibels`
    inverted,             ///< the device on `channel` is inverted against the loopback
};

struct Finding {
    FindingKind kind = FindingKind::notFollowing;
    int channel = -1;             ///< 0-based
    std::int64_t step = -1;       ///< 0-based
    std::int64_t steps = 0;       ///< the run's steps
    double frequency = 0;         ///< Hz: heard, or the step's
    double decibels = 0;
    double seconds = 0;
    /// Frames between bursts (or repetitions of a step) and a burst's
    /// length, as heard and as the arguments give them.
    double spacing = 0, expectedSpacing = 0, length = 0, expectedLength = 0;
    int repeats = 0;              ///< bursts per step heard
    double speed = 1;             ///< how fast the recording plays against its making
    double fileRate = 0;          ///< the rate the file states, Hz
    double madeAt = 0;            ///< the rate it was likely made at, Hz
};
