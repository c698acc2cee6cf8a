#include "recording/channel_aligner.h"

#include <algorithm>
#include <cmath>

namespace {

// A shift this small changes no 16-bit sample's rounding that matters.
constexpr double negligibleShift = 1e-6;
constexpr std::size_t compactAt = 1 << 16;

} // namespace

bool ChannelAligner::start(double startFrame, double ratio, std::int64_t firstFed)
{
    resampling = ratio != 1.0;
    double whole = std::floor(startFrame);
    double fraction = startFrame - whole;
    if (fraction > 1 - negligibleShift) {
        whole += 1;
        fraction = 0;
    }
    firstInput = static_cast<std::int64_t>(whole);
    // Converted frame j is the input at firstInput + j * ratio; the wanted
    // instant lies `fraction` input frames, fraction / ratio converted
    // frames, later.
    shifting = fraction > negligibleShift;
    if (shifting) {
        shift.start(fraction / ratio);
        stage.assign(FractionalDelay::taps / 2 - 1, 0.0);
    }
    fed = firstFed;
    if (resampling && !resampler.start(ratio))
        return false;
    // Input frames before the recording's first read as silence (a few
    // thousand at most: the writer makes longer silence itself).
    if (firstInput < 0) {
        std::vector<double> silence(static_cast<std::size_t>(-firstInput), 0.0);
        convert(silence.data(), silence.size());
    }
    return true;
}

void ChannelAligner::convert(const double* samples, std::size_t count)
{
    if (resampling)
        resampler.process(samples, count, stage);
    else
        stage.insert(stage.end(), samples, samples + count);
    drainStage(false);
}

void ChannelAligner::feed(const double* samples, std::int64_t count, int stride)
{
    // Input frames before firstInput are not part of the stream.
    const std::int64_t skipped = std::clamp<std::int64_t>(firstInput - fed, 0, count);
    fed += count;
    const auto taken = static_cast<std::size_t>(count - skipped);
    if (taken == 0)
        return;
    samples += skipped * stride;
    // Samples that pass unchanged go straight to the output.
    const bool passing = !resampling && !shifting;
    std::vector<double>& into = passing ? ready : own;
    std::size_t at = passing ? ready.size() : 0;
    into.resize(at + taken);
    for (std::size_t i = 0; i < taken; ++i)
        into[at + i] = samples[static_cast<std::ptrdiff_t>(i) * stride];
    if (!passing)
        convert(own.data(), own.size());
}

void ChannelAligner::drainStage(bool atEnd)
{
    if (!shifting) {
        ready.insert(ready.end(), stage.begin() + static_cast<std::ptrdiff_t>(stageRead), stage.end());
        stage.clear();
        stageRead = 0;
        return;
    }
    if (atEnd)
        stage.insert(stage.end(), FractionalDelay::taps, 0.0);
    if (stage.size() - stageRead >= FractionalDelay::taps) {
        std::size_t count = stage.size() - stageRead - FractionalDelay::taps + 1;
        std::size_t at = ready.size();
        ready.resize(at + count);
        shift.apply(stage.data() + stageRead, count, ready.data() + at);
        stageRead += count;
    }
    if (stageRead > compactAt) {
        stage.erase(stage.begin(), stage.begin() + static_cast<std::ptrdiff_t>(stageRead));
        stageRead = 0;
    }
}

void ChannelAligner::finish()
{
    if (resampling)
        resampler.finish(stage);
    drainStage(true);
}

void ChannelAligner::compact()
{
    if (readyRead > compactAt) {
        ready.erase(ready.begin(), ready.begin() + static_cast<std::ptrdiff_t>(readyRead));
        readyRead = 0;
    }
}
