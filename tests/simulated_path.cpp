#include "simulated_path.h"

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double sampleRate = 44100.0;
const double pi = std::acos(-1.0);

Biquad normalised(double b0, double b1, double b2, double a0, double a1, double a2)
{
    return Biquad{b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

std::int16_t sampleAt(const std::string& wav, std::size_t frame, int channel)
{
    std::size_t offset = 44 + 4 * frame + 2 * static_cast<std::size_t>(channel);
    auto bits = static_cast<std::uint16_t>(static_cast<unsigned char>(wav[offset])
                                           | (static_cast<unsigned char>(wav[offset + 1]) << 8));
    return static_cast<std::int16_t>(bits);
}

void putSample(std::string& wav, std::size_t frame, int channel, double value)
{
    value = std::fmax(-32768.0, std::fmin(32767.0, value));
    auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
    std::size_t offset = 44 + 4 * frame + 2 * static_cast<std::size_t>(channel);
    wav[offset] = static_cast<char>(bits & 0xFF);
    wav[offset + 1] = static_cast<char>(bits >> 8);
}

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

std::string SimulatedPath::record(const std::string& generated) const
{
    const std::size_t frames = (generated.size() - 44) / 4;
    const std::size_t outFrames = frames + static_cast<std::size_t>(extraFramesBefore);
    std::string recording = generated.substr(0, 44) + std::string(4 * outFrames, '\0');
    std::mt19937 random(noiseSeed);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int channel = 0; channel < 2; ++channel) {
        const ChannelPath& path = channels[channel];
        const Biquad& f = path.filter;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        std::vector<double> delayLine(static_cast<std::size_t>(path.delayFrames) + 1, 0.0);
        for (std::size_t out = 0; out < outFrames; ++out) {
            double x = 0.0;
            if (out >= static_cast<std::size_t>(extraFramesBefore))
                x = path.gain * sampleAt(generated, out - static_cast<std::size_t>(extraFramesBefore), channel);
            double y = f.b0 * x + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            delayLine[out % delayLine.size()] = y;
            double delayed = delayLine[(out + 1) % delayLine.size()];
            if (out < static_cast<std::size_t>(path.delayFrames))
                delayed = 0.0;
            if (noiseRms > 0)
                delayed += noiseRms * noise(random);
            putSample(recording, out, channel, delayed);
        }
    }
    if (keepBytes >= 0 && static_cast<std::size_t>(keepBytes) < recording.size())
        recording.resize(static_cast<std::size_t>(keepBytes));
    return recording;
}
