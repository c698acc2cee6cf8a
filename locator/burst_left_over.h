#pragma once

#include "locator/burst_shape.h"
#include "locator/frame_ring.h"

#include <cmath>

/// What a matched burst's window holds beyond the burst itself, for the
/// judgement of its step: each a share of the window's energy (its mean
/// removed). The model is the generator's burst at the match: its
/// fundamental and second harmonic (or alias), each at an amplitude and
/// phase of its own, and a constant; at the higher steps each tone gated
/// as the generator gates it and played through a converter's
/// band-limited interpolation (cut at the recorder's half rate, where that
/// is below the player's), so that the converter's ringing at the burst's
/// ends is part of what the model explains.
struct BurstLeftOver {
    /// Frames looked at on each side of the window: as far as the
    /// aligned file's interpolation carries a sample into the burst by
    /// more than a few thousandths of it.
    static constexpr int edgeFrames = 16;

    /// What the model, fitted over the burst, leaves unexplained there:
    /// unlike the shape's left-over, this does not grow where a recorder's
    /// filter shapes the harmonic or a converter rings, so a loopback's
    /// bursts leave next to nothing but their noise.
    double tone = NAN;
    /// The same over the burst's inside, `edgeFrames` from either end.
    double inside = NAN;
    /// The fundamental's amplitude in that fit, against the generator's.
    double fundamental = 0;
    /// What the model leaves in the `edgeFrames` before the window and
    /// after it: a loopback's silence, a device's silence or its ringing.
    double before = NAN, after = NAN;
};

/// Works out the left-overs of the burst of `shape` matched at `time` in
/// `ring`. The window is the match's: frames ceil(time) .. ceil(time) +
/// shape.window() - 2; the ring must hold `edgeFrames` more on each side,
/// or every figure keeps its default: not-a-number, which judges nothing
/// (and a fundamental of 0).
BurstLeftOver burstLeftOver(const FrameRing& ring, const BurstShape& shape, double time);
