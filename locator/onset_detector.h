#pragma once

#include "locator/burst_shape.h"

#include <cstdint>

/// Proposes where a first step's burst may begin in one channel. For every
/// window of the burst's length it sums the samples against phasors at the
/// burst's fundamental and second harmonic (a sliding transform, a few
/// operations a frame whatever the burst's length) and compares their
/// power with the window's own: a burst puts nearly all its power there,
/// noise almost none. A window counts when that share reaches `threshold`
/// and its power is at least 6 dB above that of the four windows before it
/// (mean removed, so that neither steady hum nor a DC offset passes for a
/// burst); the proposal is the window whose two components are strongest
/// among the next `length` windows. Thumps are proposed too: the tracks
/// that follow a proposal through the schedule sort them out.
struct OnsetDetector {
    static constexpr double threshold = 0.5;
    static constexpr int refreshFrames = 4096;

    int length = 0;
    double omega = 0, omega2 = 0, harmonic = 1;
    // Phasor turns by one frame and by the window's length, at both frequencies.
    double turn1c = 1, turn1s = 0, turn2c = 1, turn2s = 0;
    double span1c = 1, span1s = 0, span2c = 1, span2s = 0;
    std::int64_t refreshEvery = refreshFrames;
    bool enabled = false;

    // Sliding sums over the last `length` frames.
    double re1 = 0, im1 = 0, re2 = 0, im2 = 0, sum = 0, squares = 0;
    std::int64_t frames = 0;

    bool armed = true;
    std::int64_t peakStart = -1, peakUntil = -1, readyAt = -1;
    double peakStrength = -1;
    std::int64_t proposal = -1;

    void start(const BurstShape& shape);

    /// Takes sample `frame` (the next one); `ring` already holds it. True
    /// when a proposal is ready: `proposal` is its start frame.
    bool push(const FrameRing& ring, std::int64_t frame);

private:
    bool riseOverBefore(const FrameRing& ring, std::int64_t start, double power) const;
    void recompute(const FrameRing& ring, std::int64_t frame);
};
