// ravsim: plays a file written by ravgen through a simulated device under
// test and writes the recording, so that the whole workflow (ravdelay, ravan,
// ravplot) can be tried without a sound card. Built with the tests.
//
//   ravsim in.wav out.wav [--latency N] [--gain DB] [--invert] [--noise DB]
//          [--lowpass HZ] [--highpass HZ] [--peaking HZ,Q,DB] [--q Q]
//          [--delay N] [--device-on 1|2|both] [--cardioid START]
//
// The device (gain, polarity, filter, delay) acts on the channels named by
// --device-on (default both); another channel stays a plain loopback, as a
// reference input wired to the output would. --latency adds silent frames
// ahead of everything, --noise adds white noise that many dB below the
// burst's level on both channels. --cardioid START turns a polar run into a
// turntable measurement: from frame START on, channel 1's level follows a
// cardioid over the 72 one-second steps.
#include "simulated_path.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: ravsim in.wav out.wav [--latency N] [--gain DB] [--invert] [--noise DB]\n"
                 "       [--lowpass HZ] [--highpass HZ] [--peaking HZ,Q,DB] [--q Q] [--delay N]\n"
                 "       [--device-on 1|2|both] [--cardioid START]\n";
    return 1;
}

void applyCardioid(std::string& wav, long start)
{
    const double pi = std::acos(-1.0);
    for (std::size_t offset = 44; offset + 4 <= wav.size(); offset += 4) {
        long frame = static_cast<long>((offset - 44) / 4);
        if (frame < start)
            continue;
        double angle = pi / 36 * static_cast<double>((frame - start) / 44100);
        double gain = std::fmax(0.02, (1 + std::cos(angle)) / 2);
        auto bits = static_cast<std::uint16_t>(static_cast<unsigned char>(wav[offset])
                                               | (static_cast<unsigned char>(wav[offset + 1]) << 8));
        auto value = static_cast<std::int16_t>(static_cast<std::int16_t>(bits) * gain);
        wav[offset] = static_cast<char>(static_cast<std::uint16_t>(value) & 0xFF);
        wav[offset + 1] = static_cast<char>(static_cast<std::uint16_t>(value) >> 8);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    ChannelPath device;
    SimulatedPath path;
    double q = std::sqrt(0.5);
    double lowpass = 0, highpass = 0;
    double peak[3] = {0, 0, 0};
    std::string deviceOn = "both";
    long cardioidStart = -1;
    for (int i = 3; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--invert") {
            device.gain = -device.gain;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const char* value = argv[++i];
        if (option == "--latency")
            path.extraFramesBefore = std::atoi(value);
        else if (option == "--gain")
            device.gain *= std::pow(10.0, std::atof(value) / 20);
        else if (option == "--noise")
            path.noiseRms = burstAmplitude * std::pow(10.0, -std::atof(value) / 20);
        else if (option == "--lowpass")
            lowpass = std::atof(value);
        else if (option == "--highpass")
            highpass = std::atof(value);
        else if (option == "--q")
            q = std::atof(value);
        else if (option == "--peaking") {
            if (std::sscanf(value, "%lf,%lf,%lf", &peak[0], &peak[1], &peak[2]) != 3)
                return usage();
        } else if (option == "--delay")
            device.delayFrames = std::atoi(value);
        else if (option == "--device-on")
            deviceOn = value;
        else if (option == "--cardioid")
            cardioidStart = std::atol(value);
        else
            return usage();
    }
    if (lowpass > 0)
        device.filter = Biquad::lowPass(lowpass, q);
    else if (highpass > 0)
        device.filter = Biquad::highPass(highpass, q);
    else if (peak[0] > 0)
        device.filter = Biquad::peaking(peak[0], peak[1], peak[2]);
    for (int channel = 0; channel < 2; ++channel)
        if (deviceOn == "both" || deviceOn == std::to_string(channel + 1))
            path.channels[channel] = device;

    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string generated = bytes.str();
    if (!in || generated.size() < 44) {
        std::cerr << "ravsim: cannot read " << argv[1] << "\n";
        return 2;
    }
    std::string recording = path.record(generated);
    if (cardioidStart >= 0)
        applyCardioid(recording, cardioidStart + path.extraFramesBefore);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(recording.data(), static_cast<std::streamsize>(recording.size()));
    out.close();
    if (!out) {
        std::cerr << "ravsim: cannot write " << argv[2] << "\n";
        return 3;
    }
    return 0;
}
