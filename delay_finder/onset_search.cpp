#include "onset_search.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr std::int64_t ringMask = OnsetSearch::ringSize - 1;

} // namespace

void OnsetSearch::start(const std::int16_t* waveform, const double* cosines, const double* sines,
                        int samplesInBurst, double samplesPerCycle)
{
    *this = OnsetSearch();
    burst = waveform;
    phasorCos = cosines;
    phasorSin = sines;
    length = std::min(samplesInBurst, maxLength);
    // The envelope's peak can stray by a few frames, far less than half a
    // period, and within half a period the waveform has no rival peak.
    double halfPeriod = samplesPerCycle / 2;
    fineReach = halfPeriod > maxReach ? maxReach : std::max(minReach, static_cast<int>(halfPeriod));
    for (int i = 0; i < length; ++i)
        burstEnergy += std::int64_t(burst[i]) * burst[i];
}

std::int64_t OnsetSearch::energyBefore(std::int64_t position) const
{
    if (position <= 0)
        return 0;
    if (position >= pushed)
        return totalEnergy;
    return prefixEnergy[position & ringMask];
}

void OnsetSearch::push(std::int16_t sample)
{
    if (state == State::found || length <= 0)
        return;
    std::int64_t slot = pushed & ringMask;
    prefixEnergy[slot] = totalEnergy;
    samples[slot] = sample;
    totalEnergy += std::int64_t(sample) * sample;
    ++pushed;
    // Frames that a detection from now on would count as noise, in blocks.
    std::int64_t settled = pushed - length - noiseGuard - 1;
    if (settled >= 0) {
        std::int64_t value = samples[settled & ringMask];
        blockEnergy += value * value;
        if ((settled + 1) % quietBlock == 0) {
            loudestBefore = std::max(loudestBefore, blockEnergy);
            blockEnergy = 0;
        }
    }
    if (pushed >= length)
        evaluate(pushed - length);
}

void OnsetSearch::evaluate(std::int64_t lag)
{
    // Integer samples keep the waveform correlation and the energies exact.
    std::int64_t correlation = 0;
    for (int i = 0; i < length; ++i)
        correlation += std::int64_t(samples[(lag + i) & ringMask]) * burst[i];
    correlations[lag & ringMask] = correlation;
    std::int64_t windowEnergy = totalEnergy - energyBefore(lag);

    if (state == State::searching) {
        if (windowEnergy <= 0 || burstEnergy <= 0)
            return;
        double score = std::fabs(static_cast<double>(correlation))
            / std::sqrt(static_cast<double>(windowEnergy) * static_cast<double>(burstEnergy));
        if (score < threshold)
            return;
        state = State::refining;
        refineEnd = lag + length + fineReach;
        // Every frame before the first lag that correlates precedes the
        // burst: that stretch is the noise the level is measured against.
        noiseFrames = std::max<std::int64_t>(0, lag - noiseGuard);
        noiseEnergy = energyBefore(noiseFrames);
        loudestLeadIn = loudestBefore;
    }
    if (lag <= refineEnd - fineReach) {
        // The burst's two components, the fundamental and its second
        // harmonic, each read through its own phasor: whichever the path
        // lets through carries the envelope.
        double re = 0.0, im = 0.0, re2 = 0.0, im2 = 0.0;
        for (int i = 0; i < length; ++i) {
            double x = samples[(lag + i) & ringMask];
            double c = phasorCos[i], s = phasorSin[i];
            re += x * c;
            im += x * s;
            re2 += x * (c * c - s * s);
            im2 += x * (2 * c * s);
        }
        double envelope = re * re + im * im + re2 * re2 + im2 * im2;
        if (envelope > envelopePeak) {
            envelopePeak = envelope;
            envelopeLag = lag;
        }
    }
    if (lag >= refineEnd)
        chooseFineLag(lag);
}

void OnsetSearch::chooseFineLag(std::int64_t lastLag)
{
    std::int64_t first = std::max<std::int64_t>(0, envelopeLag - fineReach);
    std::int64_t last = std::min(lastLag, envelopeLag + fineReach);
    std::int64_t strongest = -1;
    for (std::int64_t lag = first; lag <= last; ++lag) {
        std::int64_t magnitude = std::abs(correlations[lag & ringMask]);
        if (magnitude > strongest) {
            strongest = magnitude;
            bestLag = lag;
        }
    }
    state = State::found;
}

void OnsetSearch::finish()
{
    if (state == State::refining)
        chooseFineLag(pushed - length);
}

bool OnsetSearch::quietBefore() const
{
    if (noiseFrames <= 0)
        return false;
    // Powers compared per frame; 6 dB is a factor of 4. Both the whole
    // stretch and its loudest block must stay that far below the burst.
    double burstPower = static_cast<double>(energyBefore(bestLag + length) - energyBefore(bestLag)) / length;
    double noisePower = static_cast<double>(noiseEnergy) / static_cast<double>(noiseFrames);
    double loudestBlockPower = static_cast<double>(loudestLeadIn) / quietBlock;
    return 4.0 * noisePower <= burstPower && 4.0 * loudestBlockPower <= burstPower;
}

int OnsetSearch::polarity() const
{
    return correlations[bestLag & ringMask] < 0 ? -1 : 1;
}

double OnsetSearch::levelAboveNoise() const
{
    if (noiseFrames <= 0 || noiseEnergy == 0)
        return std::numeric_limits<double>::infinity();
    std::int64_t burstWindow = energyBefore(bestLag + length) - energyBefore(bestLag);
    double burstPower = static_cast<double>(burstWindow) / length;
    double noisePower = static_cast<double>(noiseEnergy) / static_cast<double>(noiseFrames);
    return 10.0 * std::log10(burstPower / noisePower);
}
