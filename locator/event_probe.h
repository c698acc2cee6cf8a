#pragma once

#include <cstdint>

/// Notes the first sound in one channel that rises 20 dB above the quiet
/// before it, and its frequency from its zero crossings: what the user
/// played, when it does not match the arguments.
struct EventProbe {
    static constexpr int blockFrames = 32;
    static constexpr int maxBlocks = 128;  ///< frames counted: 4096

    double rate = 44100;
    double quiet = -1;                ///< the quietest block so far
    double blockSquares = 0;
    int filled = 0;
    bool started = false, finished = false;
    std::int64_t frame = 0, startFrame = 0, countedFrames = 0;
    int crossings = 0;
    std::int64_t firstCrossing = 0, lastCrossing = 0;
    double previous = 0;

    void start(double inputRate)
    {
        *this = EventProbe();
        rate = inputRate;
    }

    void push(double x);

    /// The event's frequency in Hz, or 0 when there was none. The burst's
    /// waveform crosses zero twice a cycle, a third and two thirds into it,
    /// so n cycles put n - 2/3 of a cycle between the first crossing and
    /// the last.
    double frequency() const
    {
        if (crossings < 2 || lastCrossing <= firstCrossing)
            return 0;
        return (crossings / 2.0 - 2.0 / 3.0) * rate / double(lastCrossing - firstCrossing);
    }
};
