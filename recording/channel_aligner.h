#pragma once

#include "audio/resampler.h"
#include "recording/fractional_delay.h"

#include <cstdint>
#include <vector>

/// Turns one channel of a recording into the 44100 Hz channel that ravan
/// reads: output frame j is the input at frame start + j * ratio. soxr
/// converts the rate from the whole input frame below `start`; the
/// fraction above it is a fractional delay. With a ratio of 1 and a whole
/// start the samples pass through unchanged.
struct ChannelAligner {
    bool resampling = false;
    bool shifting = false;
    std::int64_t firstInput = 0;   ///< the input frame that becomes the stream's frame 0
    std::int64_t fed = 0;          ///< input frames offered so far
    Resampler resampler;
    FractionalDelay shift;
    std::vector<double> stage;     ///< converted samples waiting for the shift
    std::size_t stageRead = 0;
    std::vector<double> own;       ///< the channel's samples of the block being fed
    std::vector<double> ready;     ///< output samples waiting to be written
    std::size_t readyRead = 0;

    /// Starts the stream at input frame `start` (fractional), reading from
    /// input frame `firstFed` on. False when soxr refuses the ratio.
    bool start(double start, double ratio, std::int64_t firstFed = 0);

    /// Offers the channel's next `count` input samples, `stride` apart.
    void feed(const double* samples, std::int64_t count, int stride);

    /// Ends the input: the filters are drained into `ready`.
    void finish();

    std::size_t available() const { return ready.size() - readyRead; }
    double take() { return ready[readyRead++]; }
    /// Drops what has been taken, now and then, so that memory stays flat.
    void compact();

private:
    void convert(const double* samples, std::size_t count);
    void drainStage(bool atEnd);
};
