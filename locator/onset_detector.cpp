#include "locator/onset_detector.h"

#include <algorithm>
#include <cmath>

void OnsetDetector::start(const BurstShape& shape)
{
    *this = OnsetDetector();
    length = std::max(1, static_cast<int>(shape.span));
    omega = shape.omega;
    omega2 = shape.omega2;
    harmonic = shape.harmonic;
    enabled = shape.span >= 1;
    turn1c = std::cos(omega);
    turn1s = std::sin(omega);
    turn2c = std::cos(omega2);
    turn2s = std::sin(omega2);
    span1c = std::cos(omega * length);
    span1s = std::sin(omega * length);
    span2c = std::cos(omega2 * length);
    span2s = std::sin(omega2 * length);
    refreshEvery = std::max<std::int64_t>(refreshFrames, 4 * std::int64_t(length));
}

void OnsetDetector::recompute(const FrameRing& ring, std::int64_t frame)
{
    // Sums rebuilt exactly now and then, so that rounding cannot pile up
    // over a long recording. Phases are taken from the window's first frame.
    re1 = im1 = re2 = im2 = sum = squares = 0;
    std::int64_t first = frame - length + 1;
    for (int j = 0; j < length; ++j) {
        double x = ring.at(first + j);
        re1 += x * std::cos(omega * j);
        im1 += x * std::sin(omega * j);
        re2 += x * std::cos(omega2 * j);
        im2 += x * std::sin(omega2 * j);
        sum += x;
        squares += x * x;
    }
}

bool OnsetDetector::riseOverBefore(const FrameRing& ring, std::int64_t start, double power) const
{
    StretchPower before = ring.powerOver(start - 4 * std::int64_t(length), start - 16);
    return before.frames == 0 || power >= 4 * before.variance;
}

bool OnsetDetector::push(const FrameRing& ring, std::int64_t frame)
{
    if (!enabled)
        return false;
    double x = ring.at(frame);
    ++frames;
    if (frames < length)
        return false;
    if ((frames - length) % refreshEvery == 0) {
        recompute(ring, frame);
    } else {
        // Slide by one frame: drop the oldest sample, then turn the phases
        // back by one frame so that they count from the new first frame.
        double old = ring.at(frame - length);
        re1 += x * span1c - old;
        im1 += x * span1s;
        re2 += x * span2c - old;
        im2 += x * span2s;
        double r = re1 * turn1c + im1 * turn1s;
        im1 = im1 * turn1c - re1 * turn1s;
        re1 = r;
        r = re2 * turn2c + im2 * turn2s;
        im2 = im2 * turn2c - re2 * turn2s;
        re2 = r;
        sum += x - old;
        squares += x * x - old * old;
    }
    std::int64_t start = frame - length + 1;
    double strength = re1 * re1 + im1 * im1 + harmonic * (re2 * re2 + im2 * im2);
    double energy = squares - sum * sum / length;
    double share = energy > 0 ? 2 * strength / (length * energy) : 0;
    double power = energy / length;
    if (armed && share >= threshold && power > 0 && riseOverBefore(ring, start, power)) {
        armed = false;
        peakStrength = -1;
        peakUntil = start + length;
    }
    if (!armed && peakUntil >= 0) {
        if (strength > peakStrength) {
            peakStrength = strength;
            peakStart = start;
        }
        if (start >= peakUntil) {
            proposal = peakStart;
            peakUntil = -1;
            // Look again once this burst has passed.
            readyAt = peakStart + 2 * length;
            return true;
        }
    }
    if (!armed && peakUntil < 0 && start >= readyAt)
        armed = true;
    return false;
}
