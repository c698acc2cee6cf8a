#pragma once

#include "common/units.h"

#include <cstdint>

/// Notes the first sound in one channel that rises 20 dB above the quiet
/// before it, its frequency from its zero crossings, and where the next
/// such sound begins: what the user played, and how fast, when it does not
/// match the arguments.
struct EventProbe {
    static constexpr int blockFrames = 32;
    static constexpr int maxBlocks = 128;  ///< frames counted: 4096

    double rate = sampleRate;
    double quiet = -1;                ///< the quietest block so far
    double crossingMargin = 0;        ///< the least size of a sample that can cross, from the quiet
    double blockSquares = 0;
    int filled = 0;
    bool started = false, finished = false;
    std::int64_t frame = 0, startFrame = 0, countedFrames = 0;
    bool quietAgain = false;          ///< the first event has ended in quiet
    std::int64_t endFrame = 0;        ///< where it ended; 0 while it lasts
    std::int64_t secondStart = 0;     ///< where the next event began; 0 for none yet
    int crossings = 0;
    std::int64_t earlyCrossings[3] = {0, 0, 0};  ///< the first three crossings' frames
    std::int64_t lastCrossing = 0;
    double previous = 0;

    void start(double inputRate)
    {
        *this = EventProbe();
        rate = inputRate;
    }

    void push(double x);

    /// Frames from the first event's start to the next one's, or 0.
    std::int64_t spacing() const { return secondStart > 0 ? secondStart - startFrame : 0; }
    /// Frames the first event lasted, to a block, or 0.
    std::int64_t length() const { return endFrame > 0 ? endFrame - startFrame : 0; }

    /// The event's frequency in Hz, or 0 when there was none. The burst's
    /// waveform crosses zero twice a cycle, a third and two thirds into it:
    /// the gaps between crossings alternate between a third and two thirds
    /// of a cycle, whichever crossing the count began with and wherever it
    /// stopped (a burst longer than the frames counted).
    double frequency() const
    {
        if (crossings < 2 || lastCrossing <= earlyCrossings[0])
            return 0;
        int gaps = crossings - 1;
        // One gap: a burst of one cycle, counted whole.
        bool shortFirst = crossings < 3 || earlyCrossings[1] - earlyCrossings[0] < earlyCrossings[2] - earlyCrossings[1];
        double cycles = gaps % 2 == 0 ? gaps / 2.0 : (gaps - 1) / 2.0 + (shortFirst ? 1.0 : 2.0) / 3.0;
        return cycles * rate / double(lastCrossing - earlyCrossings[0]);
    }
};
