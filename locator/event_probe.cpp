#include "locator/event_probe.h"

#include <cmath>

void EventProbe::push(double x)
{
    ++frame;
    if (secondStart != 0)
        return;  // all it notes is noted
    if (started && !finished) {
        if (std::fabs(x) > crossingMargin) {
            if (previous != 0 && (x > 0) != (previous > 0)) {
                if (crossings < 3)
                    earlyCrossings[crossings] = frame;
                ++crossings;
                lastCrossing = frame;
            }
            previous = x;
        }
        ++countedFrames;
    }
    blockSquares += x * x;
    if (++filled < blockFrames)
        return;
    double power = blockSquares / blockFrames;
    blockSquares = 0;
    filled = 0;
    if (!started) {
        // 20 dB over the quiet, and above the last bit of 16-bit rounding.
        if (quiet >= 0 && power > 100 * quiet && power > 1) {
            started = true;
            startFrame = frame;
            // Only a swing past the quiet's own level counts as a crossing:
            // a burst begins and ends touching zero, where a sample or two
            // of the background would otherwise add crossings.
            crossingMargin = 4 + 3 * std::sqrt(quiet);
        } else if (quiet < 0 || power < quiet) {
            quiet = power;
        }
    } else if (!finished) {
        finished = power <= 10 * quiet || countedFrames >= maxBlocks * blockFrames;
        quietAgain = power <= 10 * quiet;
        if (quietAgain)
            endFrame = frame;
    } else if (secondStart == 0) {
        if (power <= 10 * quiet && !quietAgain) {
            quietAgain = true;
            endFrame = frame;
        } else if (quietAgain && power > 100 * quiet && power > 1) {
            secondStart = frame;
        }
    }
}
