#pragma once

#include <cstdint>
#include <vector>

/// Mean-free power of a stretch of one channel, from whole blocks.
struct StretchPower {
    std::int64_t frames = 0;
    double variance = 0;         ///< per frame, the stretch's mean removed
    double loudestBlock = 0;     ///< the largest power of one block in it, about the stretch's mean
};

/// The recent samples of one channel, addressed by their absolute frame
/// number, and the sums of every block of `blockFrames` frames further back.
/// Frames before the first one read as 0. Memory is fixed.
struct FrameRing {
    static constexpr std::int64_t sampleCount = std::int64_t(1) << 17;
    static constexpr std::int64_t blockFrames = 32;
    static constexpr std::int64_t blockCount = std::int64_t(1) << 16;

    std::vector<double> samples = std::vector<double>(sampleCount, 0.0);
    std::vector<double> blockSums = std::vector<double>(blockCount, 0.0);
    std::vector<double> blockSquares = std::vector<double>(blockCount, 0.0);
    std::int64_t pushed = 0;
    double openSum = 0, openSquares = 0;

    void push(double sample);

    /// Empties the ring for a new recording.
    void reset();

    /// Sample `frame`; 0 before the first frame. Valid for frames within
    /// `sampleCount` of the newest.
    double at(std::int64_t frame) const
    {
        return frame < 0 ? 0.0 : samples[static_cast<std::size_t>(frame & (sampleCount - 1))];
    }

    /// The sum of frames `start` .. `start + length - 1` times `weights`
    /// (frames before the first count as 0).
    double dot(std::int64_t start, const double* weights, std::int64_t length) const;

    /// True when frames `first` .. `last` are all pushed and still held.
    bool holds(std::int64_t first, std::int64_t last) const
    {
        return last < pushed && first >= pushed - sampleCount;
    }

    /// The power of the whole blocks that lie within frames [from, to) and
    /// are still held.
    StretchPower powerOver(std::int64_t from, std::int64_t to) const;
};
