#include "measure/recording_sink.h"

#include "common/units.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

bool RecordingSink::open(const std::string& path, int serverRate, std::int64_t frameTarget)
{
    target = frameTarget;
    resampling = serverRate != sampleRate;
    for (Resampler& resampler : resamplers)
        if (resampling && !resampler.start(serverRate, sampleRate)) {
            error = "the resampler refused " + std::to_string(serverRate) + " Hz to 44100 Hz";
            return false;
        }
    if (!output.open(path)) {
        error = output.problem;
        return false;
    }
    if (output.through) {
        error = seekingRefusal;
        return false;
    }
    if (!writer.begin(0)) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool RecordingSink::drain(JackSession& session, std::size_t& took)
{
    took = session.captureReady();
    if (took == 0)
        return true;
    for (std::vector<float>& samples : taken)
        samples.resize(took);
    session.takeCapture(taken[0].data(), taken[1].data(), took);
    for (int channel = 0; channel < 2; ++channel) {
        for (float& sample : taken[channel])
            if (!std::isfinite(sample)) {
                sample = 0;
                ++nonfinite[channel];
            }
        whole[channel].take(taken[channel].data(), took);
        recent[channel].take(taken[channel].data(), took);
        std::vector<double> scaled(taken[channel].begin(), taken[channel].end());
        for (double& sample : scaled)
            sample *= sampleScale16;
        if (resampling)
            resamplers[channel].process(scaled.data(), scaled.size(), converted[channel]);
        else
            converted[channel].insert(converted[channel].end(), scaled.begin(), scaled.end());
    }
    return write();
}

bool RecordingSink::write()
{
    std::size_t count = std::min(converted[0].size(), converted[1].size());
    count = static_cast<std::size_t>(std::min<std::int64_t>(count, std::max<std::int64_t>(0, target - writer.written)));
    frames.resize(2 * count);
    for (std::size_t i = 0; i < count; ++i)
        for (int channel = 0; channel < 2; ++channel)
            frames[2 * i + channel] = toSample16(converted[channel][i]);
    for (std::vector<double>& samples : converted)
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(count));
    if (writer.written >= target) {
        for (std::vector<double>& samples : converted)
            samples.clear();
    }
    if (count == 0)
        return true;
    writer.put(frames.data(), static_cast<std::int64_t>(count));
    if (!writer.fixSizes()) {
        error = "the disk refused the recording's frames";
        return false;
    }
    return true;
}

bool RecordingSink::finish(bool complete)
{
    if (resampling)
        for (int channel = 0; channel < 2; ++channel)
            resamplers[channel].finish(converted[channel]);
    bool written = write();
    if (written && complete && writer.written < target) {
        std::size_t missing = static_cast<std::size_t>(target - writer.written);
        for (std::vector<double>& samples : converted)
            samples.assign(missing, 0.0);
        written = write();
    }
    output.out.close();
    if (!output.out && written) {
        error = "the disk refused the recording's end";
        return false;
    }
    return written;
}

bool RecordingSink::keep()
{
    if (!output.commit()) {
        error = output.problem;
        return false;
    }
    return true;
}
