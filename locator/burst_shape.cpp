#include "locator/burst_shape.h"

#include "common/tone_burst.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double driveLevel = driveAmplitude;
// A harmonic above this (radians per frame, a period of about four frames)
// makes the correlation's top too narrow for Newton steps from a whole frame.
constexpr double narrowTop = 1.5;

// Sums over the window of the burst started at `time`: the correlation
// and its first two derivatives with respect to the start time.
struct Correlation {
    double value = 0, slope = 0, curvature = 0, shapeEnergy = 0;
};

Correlation correlateAt(const FrameRing& ring, const BurstShape& shape, double time)
{
    Correlation sums;
    std::int64_t first = static_cast<std::int64_t>(std::ceil(time));
    std::int64_t last = static_cast<std::int64_t>(std::floor(time + shape.span));
    double w = shape.omega, w2 = shape.omega2;
    for (std::int64_t n = first; n <= last; ++n) {
        double u = double(n) - time;
        if (u < 0 || u >= shape.span)
            continue;
        double x = ring.at(n);
        double c1 = std::cos(w * u), c2 = std::cos(w2 * u);
        double s1 = std::sin(w * u), s2 = std::sin(w2 * u);
        double g = driveLevel * (c1 - shape.harmonic * c2);
        // d/dtime = -d/du.
        double dg = -driveLevel * (-w * s1 + shape.harmonic * w2 * s2);
        double ddg = driveLevel * (-w * w * c1 + shape.harmonic * w2 * w2 * c2);
        sums.value += x * g;
        sums.slope += x * dg;
        sums.curvature += x * ddg;
        sums.shapeEnergy += g * g;
    }
    return sums;
}

} // namespace

BurstShape::BurstShape(const StepInfo& step, double scale)
{
    const double pi = 3.14159265358979;
    omega = step.omega / scale;
    double second = 2 * step.omega;
    if (second > pi)
        second = 2 * pi - second;
    omega2 = second / scale;
    // Nor does a recording pass a harmonic near or above its own half rate.
    harmonic = second < 0.9 * pi && omega2 < 0.9 * pi ? 1.0 : 0.0;
    span = std::min<double>(double(step.duration) * scale, maxWindow);
    halfPeriod = pi / omega;
    this->scale = scale;
    duration = step.duration;
}

double BurstShape::value(double u) const
{
    if (u < 0 || u >= span)
        return 0.0;
    return driveLevel * (std::cos(omega * u) - harmonic * std::cos(omega2 * u));
}

namespace {

// The match of the shape at each whole-frame offset from `predicted`
// within `reach`, signed; the shape's samples at those offsets are one
// sequence, worked out once. Empty when the shape has no energy.
std::vector<double> wholeFrameMatches(const FrameRing& ring, const BurstShape& shape, double predicted, int reach)
{
    std::int64_t base = static_cast<std::int64_t>(std::floor(predicted));
    double fraction = predicted - double(base);
    int length = shape.window();
    std::vector<double> shapeAt(static_cast<std::size_t>(length));
    double shapeEnergy = 0;
    for (int j = 0; j < length; ++j) {
        shapeAt[j] = shape.value(j - fraction);
        shapeEnergy += shapeAt[j] * shapeAt[j];
    }
    if (shapeEnergy <= 0)
        return {};
    std::vector<double> byOffset(static_cast<std::size_t>(2 * reach + 1));
    for (int offset = -reach; offset <= reach; ++offset) {
        byOffset[static_cast<std::size_t>(offset + reach)] = ring.dot(base + offset, shapeAt.data(), length);
    }
    return byOffset;
}

// The offsets of the strongest `count` local peaks of `byOffset` (tops
// and troughs: the burst may be inverted), strongest first. Whole-frame
// offsets sample the correlation's carrier coarsely: a neighbouring
// cycle's peak can be hit closer to its top than the true one, so several
// are refined. Where the shape holds its harmonic, its top is twice its
// troughs and a peak is one of the signed match: at a few frames a cycle,
// a top and the trough beside it lie a frame or two apart and their sizes
// alone do not part them. Without the harmonic the two are alike, and a
// peak is one of the match's size.
std::vector<int> strongestPeaks(const std::vector<double>& byOffset, int reach, std::size_t count, bool bySign)
{
    std::vector<int> peaks;
    for (int i = 0; i <= 2 * reach; ++i) {
        const double sign = byOffset[static_cast<std::size_t>(i)] < 0 ? -1 : 1;
        auto size = [&](int j) {
            double v = byOffset[static_cast<std::size_t>(j)];
            return bySign ? sign * v : std::fabs(v);
        };
        double here = size(i);
        bool left = i == 0 || size(i - 1) <= here;
        bool right = i == 2 * reach || size(i + 1) < here;
        if (left && right)
            peaks.push_back(i - reach);
    }
    std::sort(peaks.begin(), peaks.end(), [&](int a, int b) {
        return std::fabs(byOffset[static_cast<std::size_t>(a + reach)])
            > std::fabs(byOffset[static_cast<std::size_t>(b + reach)]);
    });
    if (peaks.size() > count)
        peaks.resize(count);
    return peaks;
}

// The peak near whole-frame start `start`, refined by Newton steps on the
// correlation (within a frame of `start`); the whole-frame match where it
// is stronger.
std::pair<double, Correlation> refinedPeak(const FrameRing& ring, const BurstShape& shape, double start)
{
    double candidate = start;
    // The sums at the whole-frame start are the first step's; those at the
    // last point tried are reused when the steps stop there.
    Correlation plain = correlateAt(ring, shape, start), last;
    // A burst whose harmonic has a period of a few frames has a top about a
    // frame wide: half a frame from it the correlation bends the other way
    // or Newton steps overshoot. The quarter frames around the start find
    // the top's side first.
    if (shape.harmonic * shape.omega2 > narrowTop || plain.value * plain.curvature >= 0
        || std::fabs(plain.slope) > std::fabs(plain.curvature)) {
        double best = std::fabs(plain.value);
        for (int quarter = -3; quarter <= 3; ++quarter) {
            if (quarter == 0)
                continue;  // the start itself
            Correlation c = correlateAt(ring, shape, start + quarter / 4.0);
            if ((c.value < 0) == (plain.value < 0) && std::fabs(c.value) > best) {
                best = std::fabs(c.value);
                candidate = start + quarter / 4.0;
            }
        }
    }
    double lastTime = start;
    for (int step = 0; step < 4; ++step) {
        Correlation c = step == 0 && candidate == start ? plain : correlateAt(ring, shape, candidate);
        last = c;
        lastTime = candidate;
        if (c.curvature == 0)
            break;
        double next = candidate - c.slope / c.curvature;
        // The peak lies within a frame of its whole-frame sample; a step
        // beyond that is the far side of a rival peak.
        if (!(std::fabs(next - start) <= 1.0))
            break;
        candidate = next;
    }
    Correlation refined = candidate == lastTime ? last : correlateAt(ring, shape, candidate);
    if (std::fabs(plain.value) > std::fabs(refined.value))
        return {start, plain};
    return {candidate, refined};
}

// What the burst matched at `fit.time` holds: the fundamental's own delay
// against the match (as the analyzer would read its phase over the matched
// window) and the loudest sample; the level again from the samples below
// full scale when it clipped; the window's power and the match's score.
void describeMatch(const FrameRing& ring, const BurstShape& shape, const Correlation& at, BurstFit& fit)
{
    const double time = fit.time;
    double re = 0, im = 0;
    for (std::int64_t n = static_cast<std::int64_t>(std::ceil(time)); double(n) < time + shape.span; ++n) {
        double u = double(n) - time;
        double x = ring.at(n);
        re += x * std::cos(shape.omega * u);
        im += x * std::sin(shape.omega * u);
        fit.peak = std::max(fit.peak, std::fabs(x));
    }
    double phase = std::atan2(fit.amplitude < 0 ? -im : im, fit.amplitude < 0 ? -re : re);
    fit.fundamentalDelay = phase / shape.omega;
    fit.unclipped = fit.amplitude;
    if (fit.peak >= clipLevel) {
        double across = 0, energy = 0;
        for (std::int64_t n = static_cast<std::int64_t>(std::ceil(time)); double(n) < time + shape.span; ++n) {
            double x = ring.at(n);
            if (std::fabs(x) >= clipLevel)
                continue;
            double g = shape.value(double(n) - time);
            across += x * g;
            energy += g * g;
        }
        fit.unclipped = energy > 0 ? across / energy : fit.amplitude;
    }
    const int length = shape.window();
    std::int64_t first = static_cast<std::int64_t>(std::ceil(time));
    double sum = 0, squares = 0;
    for (int j = 0; j < length - 1; ++j) {
        double x = ring.at(first + j);
        sum += x;
        squares += x * x;
    }
    double frames = length - 1;
    double mean = sum / frames;
    fit.power = std::max(0.0, squares / frames - mean * mean);
    double windowEnergy = squares - sum * mean;
    fit.score = windowEnergy > 0 && at.shapeEnergy > 0
        ? std::fabs(at.value) / std::sqrt(windowEnergy * at.shapeEnergy) : 0;
}

} // namespace

BurstFit fitBurst(const FrameRing& ring, const BurstShape& shape, double predicted, int reach, std::size_t peaksToRefine)
{
    BurstFit fit;
    std::vector<double> byOffset = wholeFrameMatches(ring, shape, predicted, reach);
    if (byOffset.empty())
        return fit;
    double time = predicted;
    Correlation at;
    bool any = false;
    for (int offset : strongestPeaks(byOffset, reach, peaksToRefine, shape.harmonic > 0)) {
        auto [candidate, refined] = refinedPeak(ring, shape, predicted + offset);
        if (!any || std::fabs(refined.value) > std::fabs(at.value)) {
            any = true;
            time = candidate;
            at = refined;
            fit.atEdge = reach > 0 && std::abs(offset) == reach;
        }
    }
    fit.time = time;
    fit.amplitude = at.shapeEnergy > 0 ? at.value / at.shapeEnergy : 0;
    describeMatch(ring, shape, at, fit);
    return fit;
}
