#pragma once

#include "burst_schedule.h"

#include <cstdint>
#include <iosfwd>

/// Writes the generator's sample frames through one fixed block, so that
/// the stream receives large writes whatever the file's length. Every frame
/// carries the same 16-bit little-endian value on both channels.
struct BurstWriter {
    static constexpr int blockFrames = 32768;

    /// Frames of the block in use; frames from `dirtyFrames` on are zero.
    unsigned char block[blockFrames * 4] = {};
    int dirtyFrames = 0;

    /// Writes `frames` silent frames (nothing when `frames` is 0 or less).
    void writeSilence(std::int64_t frames, std::ostream& out);

    /// Writes every repetition of the schedule's current step: `interval`
    /// frames each, the burst 12000 * (cos x - cos 2x) with x = i * omega,
    /// truncated toward zero, over frames 0 .. duration - 1, zero after it.
    /// Failures show in the stream's state; nothing is printed.
    void writeStep(const BurstSchedule& schedule, std::ostream& out);

private:
    void clearFrom(int frame);
};
