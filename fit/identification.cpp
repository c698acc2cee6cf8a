#include "fit/identification.h"

#include "common/tone_burst.h"
#include "common/units.h"

#include <algorithm>
#include <cmath>

namespace {

// A step departs from its neighbours (this many on each side) when the
// share of its window that the response misses is this many times their
// median, and at least this share.
constexpr std::size_t departureNeighbours = 5;
constexpr double departureFactor = 100;
constexpr double departureShare = 1e-3;

// A residual counts as above the noise when it exceeds the noise's estimate
// by this many times the estimate's own scatter: few enough that no step of
// a linear path, of four hundred a sweep reads, is taken for distorted.
constexpr double scatterMargin = 5;

double decibels(double ratio)
{
    return 10 * std::log10(ratio);
}

} // namespace

bool Identification::begin(const StepTable& steps, const std::vector<std::uint8_t> (&damagedSteps)[2],
                           double inputRate)
{
    table = steps;
    lead = leadTapsFor(inputRate);
    noiseBand = std::min(1.0, inputRate / sampleRate);
    arrival[0] = arrival[1] = double(lead);
    perStep = !table.sweep;
    longest = 0;
    for (const StepInfo& step : table.steps)
        longest = std::max(longest, static_cast<std::size_t>(std::max(step.duration, 0)));
    std::size_t room = static_cast<std::size_t>(table.interval) > 2 * lead + longest
        ? static_cast<std::size_t>(table.interval) - 2 * lead - longest : 0;
    taps = std::min(perStep ? polarTaps : sweepTaps, room);
    if (taps < polarTaps)
        return false;
    size = transformSize(lead + longest + taps, longest, taps);
    fft = std::make_unique<RealFft>(size);
    std::size_t stored = 0;
    for (int c = 0; c < 2; ++c) {
        verdict[c] = &damagedSteps[c];
        figures[c].assign(table.steps.size(), StepFigures());
        for (std::size_t step = 0; step < table.steps.size(); ++step) {
            figures[c][step].windowAt = perStep ? static_cast<std::size_t>(c) * windowFrames(step) : stored;
            stored = perStep ? std::max(stored, 2 * windowFrames(step)) : stored + windowFrames(step);
        }
    }
    windowStore.reset(new float[stored]);
    std::size_t count = perStep ? 2 * table.steps.size() : 2;
    fits.assign(count, ImpulseFit(taps, size));
    responses.assign(count, std::vector<double>(taps, 0.0));
    return true;
}

std::size_t Identification::windowFrames(std::size_t step) const
{
    return lead + static_cast<std::size_t>(table.steps[step].duration) + taps;
}

void Identification::stimulus(std::size_t step, std::vector<std::complex<double>>& bins)
{
    const StepInfo& info = table.steps[step];
    // The recording's window starts `lead` taps before the burst arrives:
    // tap `lead` of the response is an arrival on time.
    std::vector<double> x(static_cast<std::size_t>(info.duration));
    for (std::int32_t n = 0; n < info.duration; ++n)
        x[static_cast<std::size_t>(n)] = toneBurstSample(n, info.omega);
    fft->forward(x.data(), x.size(), bins);
}

void Identification::addStep(std::size_t step, const std::vector<double> (&span)[2])
{
    const std::size_t frames = windowFrames(step);
    std::vector<std::complex<double>>& x = stimulusBins;
    std::vector<std::complex<double>>& y = recordingBins;
    stimulus(step, x);
    for (int c = 0; c < 2; ++c) {
        if ((*verdict[c])[step] != 0)
            continue;
        StepFigures& kept = figures[c][step];
        kept.used = true;
        std::copy(span[c].begin(), span[c].begin() + static_cast<std::ptrdiff_t>(frames),
                  windowStore.get() + kept.windowAt);
        double sum = 0;
        for (std::size_t i = frames; i < span[c].size(); ++i)
            sum += span[c][i] * span[c][i];
        kept.silentFrames = span[c].size() - frames;
        kept.silentPower = kept.silentFrames > 0 ? sum / double(kept.silentFrames) : 0.0;
        fft->forward(span[c].data(), frames, y);
        std::size_t index = fitIndex(c, step);
        fits[index].add(x, y);
        if (perStep) {
            // A polar step is read at once.
            responses[index] = fits[index].solve(*fft, readingLambda);
            fft->forward(responses[index].data(), taps, responseBins[c]);
            measureResidual(c, step);
        }
    }
}

void Identification::finish()
{
    if (!perStep) {
        for (int c = 0; c < 2; ++c) {
            const ImpulseFit& fit = fits[static_cast<std::size_t>(c)];
            responses[static_cast<std::size_t>(c)] = fit.solve(*fft, readingLambda);
            const std::vector<double> predicting = fit.solve(*fft, predictionLambda);
            fft->forward(predicting.data(), taps, responseBins[c]);
        }
        for (std::size_t step = 0; step < table.steps.size(); ++step) {
            if (!figures[0][step].used && !figures[1][step].used)
                continue;
            stimulus(step, stimulusBins);
            for (int c = 0; c < 2; ++c)
                if (figures[c][step].used)
                    measureResidual(c, step);
        }
    }
    for (int c = 0; c < 2; ++c) {
        double power = 0;
        std::size_t frames = 0;
        for (const StepFigures& kept : figures[c]) {
            power += kept.silentPower * double(kept.silentFrames);
            frames += kept.silentFrames;
        }
        noisePower[c] = frames > 0 ? power / double(frames) : 0.0;
    }
}

std::vector<std::int64_t> Identification::departingSteps(int c) const
{
    const std::vector<StepFigures>& steps = figures[c];
    auto share = [&](std::size_t k) { return steps[k].residual / std::max(steps[k].linear, 1e-300); };
    std::vector<std::int64_t> departing;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        if (!steps[k].used)
            continue;
        std::vector<double> around;
        for (std::size_t j = k > departureNeighbours ? k - departureNeighbours : 0;
             j <= std::min(steps.size() - 1, k + departureNeighbours); ++j)
            if (j != k && steps[j].used)
                around.push_back(share(j));
        if (around.size() < 2)
            continue;
        std::nth_element(around.begin(), around.begin() + static_cast<std::ptrdiff_t>(around.size() / 2), around.end());
        double usual = around[around.size() / 2];
        if (share(k) > departureFactor * usual && share(k) > departureShare)
            departing.push_back(static_cast<std::int64_t>(k));
    }
    return departing;
}

std::size_t Identification::fitIndex(int c, std::size_t step) const
{
    return (perStep ? 2 * step : 0) + static_cast<std::size_t>(c);
}

std::size_t Identification::neededFrames() const
{
    return lead + longest + taps;
}

const std::vector<double>& Identification::response(int c, std::size_t step) const
{
    return responses[fitIndex(c, step)];
}

const ImpulseFit& Identification::fitOf(int c, std::size_t step) const
{
    return fits[fitIndex(c, step)];
}

// The step's window predicted as h * x (x in stimulusBins, h's transform
// in responseBins); what the prediction misses is distortion and noise.
void Identification::measureResidual(int c, std::size_t step)
{
    StepFigures& kept = figures[c][step];
    std::vector<std::complex<double>>& product = recordingBins;
    product.resize(stimulusBins.size());
    for (std::size_t k = 0; k < product.size(); ++k)
        product[k] = responseBins[c][k] * stimulusBins[k];
    const float* window = windowStore.get() + kept.windowAt;
    predicted.resize(windowFrames(step));
    fft->inverse(product, predicted.data(), predicted.size());
    kept.linear = 0;
    kept.residual = 0;
    for (std::size_t i = 0; i < predicted.size(); ++i) {
        double miss = double(window[i]) - predicted[i];
        kept.linear += predicted[i] * predicted[i];
        kept.residual += miss * miss;
    }
}

ChannelReading Identification::read(int c, std::size_t step, double frequency, double gateFrames,
                                    double noise) const
{
    ChannelReading reading;
    const ImpulseFit& fit = fitOf(c, step);
    if (perStep && !figures[c][step].used)
        return reading;
    // A window shorter than a few periods (a short gate, or the response's
    // whole length at a few hertz) cannot tell the frequency's level from
    // the window's own spread: the row is left out rather than misread.
    ResponseWindow window = gateFrames > 0 ? ResponseWindow::gate(gateFrames, arrival[c], taps)
                                           : ResponseWindow::forFrequency(frequency, arrival[c], taps);
    const double heldFrames = gateFrames > 0 ? gateFrames : window.end - arrival[c];
    if (heldFrames * frequency / sampleRate < gatePeriods)
        return reading;
    reading.response = responseAt(response(c, step), frequency, window, double(lead));
    reading.err = levelUncertaintyDb(reading.response, noise / noiseBand, window, fit.power,
                                     fit.lambda(readingLambda), size, frequency);
    return reading;
}

ChannelReading Identification::readFrequency(int c, double frequency, double gateFrames) const
{
    return read(c, 0, frequency, gateFrames, noisePower[c]);
}

ChannelReading Identification::readStep(int c, std::size_t step, double gateFrames) const
{
    const StepFigures& kept = figures[c][step];
    ChannelReading reading = read(c, step, table.steps[step].actFreq, gateFrames,
                                  perStep ? kept.silentPower : noisePower[c]);
    if (!kept.used)
        return reading;
    double frames = double(windowFrames(step));
    double floor = kept.silentPower * frames;
    double scatter = kept.silentFrames > 0
        ? floor * std::sqrt(2 / double(kept.silentFrames) + 2 / frames) : 0.0;
    reading.noise = decibels(floor / kept.linear);
    reading.dist = kept.residual > floor + scatterMargin * scatter ? decibels((kept.residual - floor) / kept.linear)
                                                                    : -INFINITY;
    return reading;
}
