#pragma once

#include "common/burst_schedule.h"
#include "common/zeroed_array.h"

#include <cstdint>
#include <iosfwd>
#include <memory>

/// Writes the generator's sample frames. The output goes through one chunk
/// that is written whenever it is full, so that the file receives writes of
/// 256 KiB at offsets that are multiples of it (the header counted), which
/// the kernel writes and later reads fastest (larger chunks write no
/// faster and touch more of the chunk's pages). The chunk is kept zero where
/// nothing was put, so silence costs no copying: each repetition of a step
/// copies only its burst, which is computed once per step. Every frame
/// carries the same 16-bit little-endian value on both channels.
struct BurstWriter {
    static constexpr int chunkBytes = 1 << 18;
    /// The longest burst a schedule writes: a polar run's whole interval.
    static constexpr int burstFrames = polarInterval;

    /// `headerBytes`: what the stream holds before the first frame.
    explicit BurstWriter(int headerBytes) : bytesAhead(headerBytes) {}

    /// Writes `frames` silent frames (nothing when `frames` is 0 or less).
    void writeSilence(std::int64_t frames, std::ostream& out);

    /// Writes every repetition of the schedule's current step: `interval`
    /// frames each, the burst 12000 * (cos x - cos 2x) with x = i * omega,
    /// truncated toward zero, over frames 0 .. duration - 1, zero after it.
    /// The samples equal toneBurstSample's. Failures show in the stream's
    /// state; nothing is printed.
    void writeStep(const BurstSchedule& schedule, std::ostream& out);

    /// Writes what the chunk still holds; call before closing the stream.
    void finish(std::ostream& out);

private:
    /// Computes `frames` frames of the burst into `burst`, unless it holds them.
    void computeBurst(int frames, double omega);
    /// Copies `count` bytes into the output, writing each chunk that fills.
    void put(const unsigned char* bytes, std::int64_t count, std::ostream& out);
    /// Advances the output by `count` zero bytes.
    void skip(std::int64_t count, std::ostream& out);
    void writeChunk(std::ostream& out);

    // Allocated once per run (0.5 MiB together, too much for a stack frame).
    // The chunk starts as the system's zero pages, which cost nothing until
    // a burst is put on one; the others need no initial value.
    std::unique_ptr<unsigned char[]> burst{new unsigned char[burstFrames * 4]};
    std::unique_ptr<std::int16_t[]> samples{new std::int16_t[burstFrames]};
    int computedFrames = -1;      ///< the burst that `burst` holds
    double computedOmega = 0.0;
    ZeroedArray<unsigned char> chunk = zeroedArray<unsigned char>(chunkBytes);
    int chunkFill = 0;   ///< bytes of `chunk` in use
    int bytesAhead;      ///< bytes the stream holds ahead of the chunk (the header, at first)
    /// The ranges of `chunk` that hold bursts; zero elsewhere. Beyond the
    /// last slot ranges merge into it.
    static constexpr int dirtySlots = 64;
    int dirtyBegin[dirtySlots] = {};
    int dirtyEnd[dirtySlots] = {};
    int dirtyCount = 0;
};
