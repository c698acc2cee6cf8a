#include "simulator/simulated_path.h"

#include "common/burst_schedule.h"
#include "common/little_endian.h"
#include "common/stereo_wav_writer.h"
#include "common/units.h"
#include "common/wav_header.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <ostream>
#include <random>
#include <sstream>
#include <vector>

namespace {


Biquad normalised(double b0, double b1, double b2, double a0, double a1, double a2)
{
    return Biquad{b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

// What one channel's path holds from frame to frame: the filter's state,
// the delay line and its noise generator.
struct ChannelRun {
    const ChannelPath& path;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    std::vector<double> delayLine;
    std::mt19937 random;
    std::normal_distribution<double> noise{0.0, 1.0};

    ChannelRun(const ChannelPath& p, std::uint32_t seed)
        : path(p), delayLine(static_cast<std::size_t>(p.delayFrames) + 1, 0.0), random(seed)
    {
    }

    // The output for input sample `x` at output frame `out`.
    double step(double x, std::int64_t out, double noiseRms)
    {
        const Biquad& f = path.filter;
        x *= path.gain;
        double y = f.b0 * x + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        auto at = static_cast<std::size_t>(out);
        delayLine[at % delayLine.size()] = y;
        double delayed = out < path.delayFrames ? 0.0 : delayLine[(at + 1) % delayLine.size()];
        if (noiseRms > 0)
            delayed += noiseRms * noise(random);
        return delayed;
    }
};

// A turntable turning channel 1 away in 5 degree steps, one per second.
double cardioidGain(std::int64_t frame, std::int64_t start)
{
    double angle = pi / 36 * static_cast<double>((frame - start) / polarInterval);
    return std::fmax(0.02, (1 + std::cos(angle)) / 2);
}

constexpr std::size_t blockFrames = 4096;

} // namespace

Biquad Biquad::lowPass(double cornerHz, double q)
{
    double w0 = 2 * pi * cornerHz / sampleRate;
    double alpha = std::sin(w0) / (2 * q);
    double c = std::cos(w0);
    return normalised((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

Biquad Biquad::highPass(double cornerHz, double q)
{
    double w0 = 2 * pi * cornerHz / sampleRate;
    double alpha = std::sin(w0) / (2 * q);
    double c = std::cos(w0);
    return normalised((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

Biquad Biquad::peaking(double centreHz, double q, double gainDb)
{
    double a = std::pow(10.0, gainDb / 40);
    double w0 = 2 * pi * centreHz / sampleRate;
    double alpha = std::sin(w0) / (2 * q);
    double c = std::cos(w0);
    return normalised(1 + alpha * a, -2 * c, 1 - alpha * a, 1 + alpha / a, -2 * c, 1 - alpha / a);
}

Biquad Biquad::firstOrderLowPass(double cornerHz)
{
    double k = std::tan(pi * cornerHz / sampleRate);
    return normalised(k, k, 0, 1 + k, k - 1, 0);
}

Biquad Biquad::firstOrderHighPass(double cornerHz)
{
    double k = std::tan(pi * cornerHz / sampleRate);
    return normalised(1, -1, 0, 1 + k, k - 1, 0);
}

std::complex<double> Biquad::response(double frequencyHz) const
{
    std::complex<double> z1 = std::polar(1.0, -2 * pi * frequencyHz / sampleRate);
    std::complex<double> z2 = z1 * z1;
    return (b0 + b1 * z1 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2);
}

std::complex<double> ChannelPath::response(double frequencyHz) const
{
    return gain * filter.response(frequencyHz) * std::polar(1.0, -2 * pi * frequencyHz * delayFrames / sampleRate);
}

bool SimulatedPath::record(std::istream& in, std::int64_t inputFrames, std::ostream& out) const
{
    unsigned char ignored[WavHeader::size];
    if (!in.read(reinterpret_cast<char*>(ignored), WavHeader::size))
        return false;
    StereoWavWriter wav(out);
    if (!wav.begin(inputFrames + extraFramesBefore))
        return false;
    ChannelRun runs[2] = {ChannelRun(channels[0], noiseSeed), ChannelRun(channels[1], noiseSeed + 1)};
    std::vector<unsigned char> input(4 * blockFrames);
    std::vector<unsigned char> output(4 * blockFrames);
    std::int64_t frame = 0;
    std::int64_t silentLeft = extraFramesBefore;
    for (;;) {
        std::size_t frames = blockFrames;
        if (silentLeft > 0) {
            frames = static_cast<std::size_t>(std::min<std::int64_t>(silentLeft, blockFrames));
            std::fill(input.begin(), input.end(), 0);
            silentLeft -= static_cast<std::int64_t>(frames);
        } else {
            in.read(reinterpret_cast<char*>(input.data()), static_cast<std::streamsize>(input.size()));
            frames = static_cast<std::size_t>(in.gcount()) / 4;
            if (frames == 0)
                break;
        }
        for (std::size_t i = 0; i < frames; ++i, ++frame)
            for (int c = 0; c < 2; ++c) {
                double x = littleEndian16(&input[4 * i + 2 * static_cast<std::size_t>(c)]);
                double y = runs[c].step(x, frame, noiseRms);
                if (c == 0 && cardioidStart >= 0 && frame >= cardioidStart)
                    y *= cardioidGain(frame, cardioidStart);
                putLittleEndian16(&output[4 * i + 2 * static_cast<std::size_t>(c)], toSample16(y));
            }
        wav.putPacked(output.data(), static_cast<std::int64_t>(frames));
    }
    return true;
}

std::string SimulatedPath::record(const std::string& generated) const
{
    std::istringstream in(generated);
    std::ostringstream out;
    const std::int64_t header = WavHeader::size;
    const std::int64_t bytes = static_cast<std::int64_t>(generated.size());
    record(in, bytes < header ? 0 : (bytes - header) / StereoWavWriter::frameBytes, out);
    std::string recording = out.str();
    if (keepBytes >= 0 && static_cast<std::size_t>(keepBytes) < recording.size())
        recording.resize(static_cast<std::size_t>(keepBytes));
    return recording;
}
