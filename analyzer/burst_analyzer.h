#pragma once

#include "common/burst_schedule.h"
#include "common/zeroed_array.h"

#include <cstdint>
#include <iosfwd>

/// Measures one step of the recording: correlates each channel with a unit
/// phasor at the step's actual frequency over the signal window (frames
/// 0 .. duration - 1 of every repetition) and the background window
/// (interval - 2 duration .. interval - duration - 1), summed over the
/// repetitions and scaled so that the generator's own burst reads 1.
///
/// Frames are read in fixed blocks, with the results of reading each sample
/// on its own: where the data end, the last values read stand for every
/// later frame of the step (a lone byte replaces only the low byte), and
/// the stream's end-of-file state is set exactly when a 2-byte read would
/// have set it.
struct BurstAnalyzer {
    static constexpr int blockFrames = 32768;
    /// The longest interval a schedule uses; every window frame lies below it.
    static constexpr int maxInterval = polarInterval;

    // On the heap (1.2 MiB together), from calloc: a run touches only the
    // pages of the frames it uses, which for a sweep is a few per table.
    ZeroedArray<unsigned char> block = zeroedArray<unsigned char>(blockFrames * 4);
    /// cos and sin of omega * n for the current step's window frames, worked
    /// out when a frame first needs them and kept for every repetition.
    /// Entry n is valid while phasorStamp[n] equals `stamp`. Allocated for
    /// the first burst that is measured more than once.
    ZeroedArray<double> phasorCos;
    ZeroedArray<double> phasorSin;
    ZeroedArray<std::uint32_t> phasorStamp;

    /// Reads numAvg * interval frames of the current step from `in` and
    /// writes the ten measured values, tab-separated, then ends the line.
    /// Reports nothing about the stream; the caller tests it.
    void measureStep(const BurstSchedule& schedule, std::istream& in, std::ostream& report);

    /// Reads and discards `frames` frames, stopping early, as every later
    /// read would change nothing, once the data have ended.
    void skipFrames(std::int64_t frames, std::istream& in);

    /// Finds out whether `in` can seek and where its data end. Where it
    /// can, frames that no window needs are passed over by seeking instead
    /// of reading, except within the last frames of the data, which are
    /// always read: the results, the held values and the stream's states
    /// are those of reading every frame. A pipe is read throughout.
    void probe(std::istream& in);

private:
    /// Starts the phasor table afresh for a burst other than the last one.
    void renewPhasors(const BurstSchedule& schedule);
    /// Passes over `bytes` bytes by seeking when that is safe; false when
    /// they must be read.
    bool seekPast(std::int64_t bytes, std::istream& in);
    /// Reads up to `bytes` bytes into the block; returns how many came.
    std::int64_t readBlock(std::int64_t bytes, std::istream& in);

    /// The burst whose phasors the tables hold (none at first).
    std::uint32_t stamp = 0;
    double preparedOmega = -1.0;
    std::int64_t preparedDuration = -1;
    std::int64_t preparedInterval = -1;

    bool canSeek = false;
    std::int64_t position = 0;   ///< the stream's position while canSeek
    std::int64_t dataEnd = 0;    ///< the stream's length while canSeek
};

/// The ten values of one step, in report column order.
struct BurstMeasurement {
    double abs1, abs2, dB1, dB2, dBDiff, phase1, phase2, phaseDiff, bkg1, bkg2;

    void print(std::ostream& report) const;
};
