#include "event_probe.h"

void EventProbe::push(double x)
{
    ++frame;
    if (secondStart != 0)
        return;  // all it notes is noted
    if (started && !finished) {
        if ((x > 0) != (previous > 0) && x != 0 && previous != 0) {
            if (crossings++ == 0)
                firstCrossing = frame;
            lastCrossing = frame;
        }
        if (x != 0)
            previous = x;
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
