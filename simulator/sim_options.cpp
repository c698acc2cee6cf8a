#include "simulator/sim_options.h"

#include "common/exit_codes.h"
#include "common/number_text.h"
#include "common/tone_burst.h"
#include "common/units.h"

#include <cmath>
#include <ostream>

namespace {

constexpr double nyquist = sampleRate / 2;
constexpr double longestDelay = 10 * sampleRate;   // ten seconds: the delay line is held in memory
constexpr double largestFrameCount = 2147483647;

const OptionRule peakFrequency = OptionRule::real("", "", "Hz", 0, nyquist, "", false, false);
const OptionRule filterQ = OptionRule::real("--q", "Q", "a Q", 0, 100, "the filter's Q; default 0.707", false);
const OptionRule peakGain = OptionRule::real("", "", "dB", -60, 60, "");

// "HZ,Q,DB": a peaking filter's frequency, Q and gain.
bool splitPeak(const std::string& text, std::string parts[3])
{
    std::size_t first = text.find(','), second = text.find(',', first + 1);
    if (second == std::string::npos || text.find(',', second + 1) != std::string::npos)
        return false;
    parts[0] = text.substr(0, first);
    parts[1] = text.substr(first + 1, second - first - 1);
    parts[2] = text.substr(second + 1);
    return true;
}

bool peakingFilter(const std::string& text)
{
    std::string parts[3];
    return splitPeak(text, parts) && peakFrequency.admits(parts[0]) && filterQ.admits(parts[1])
        && peakGain.admits(parts[2]);
}

// What the options ask of the device before it is built.
struct DeviceRequest {
    ChannelPath device;
    double q = std::sqrt(0.5);
    double lowpass = 0, highpass = 0, peak[3] = {0, 0, 0};
    std::string filter;   // the first filter option given
    std::string deviceOn = "both";

    // Takes one option's admitted value into the request or the path;
    // false when it asks for a second filter.
    bool take(const std::string& option, const std::string& value, SimulatedPath& path);
    // Puts the device on the channels asked for.
    void build(SimulatedPath& path) const;
};

bool DeviceRequest::take(const std::string& option, const std::string& value, SimulatedPath& path)
{
    const double number = parseReal(value.c_str());
    if (option == "--lowpass" || option == "--highpass" || option == "--peaking") {
        if (!filter.empty())
            return false;
        filter = option;
    }
    if (option == "--invert") {
        device.gain = -device.gain;
    } else if (option == "--latency") {
        path.extraFramesBefore = static_cast<int>(number);
    } else if (option == "--gain") {
        device.gain *= std::pow(10.0, number / 20);
    } else if (option == "--noise") {
        path.noiseRms = driveAmplitude * std::pow(10.0, -number / 20);
    } else if (option == "--lowpass" || option == "--highpass") {
        (option == "--lowpass" ? lowpass : highpass) = number;
    } else if (option == "--q") {
        q = number;
    } else if (option == "--peaking") {
        std::string parts[3];
        splitPeak(value, parts);
        for (int i = 0; i < 3; ++i)
            peak[i] = parseReal(parts[i].c_str());
    } else if (option == "--delay") {
        device.delayFrames = static_cast<int>(number);
    } else if (option == "--device-on") {
        deviceOn = value;
    } else {
        path.cardioidStart = static_cast<std::int64_t>(number);
    }
    return true;
}

void DeviceRequest::build(SimulatedPath& path) const
{
    ChannelPath built = device;
    if (lowpass > 0)
        built.filter = Biquad::lowPass(lowpass, q);
    else if (highpass > 0)
        built.filter = Biquad::highPass(highpass, q);
    else if (peak[0] > 0)
        built.filter = Biquad::peaking(peak[0], peak[1], peak[2]);
    for (int channel = 0; channel < 2; ++channel)
        if (deviceOn == "both" || deviceOn == std::to_string(channel + 1))
            path.channels[channel] = built;
}

} // namespace

const OptionTable& simOptionTable()
{
    static const OptionTable table{
        "ravsim",
        "ravsim in.wav out.wav [--latency N] [--gain DB] [--invert] [--noise DB] [--lowpass HZ | --highpass HZ"
        " | --peaking HZ,Q,DB] [--q Q] [--delay N] [--device-on 1|2|both] [--cardioid START]",
        {OptionRule::whole("--latency", "N", "frames", 0, largestFrameCount, "silent frames ahead of everything"),
         OptionRule::real("--gain", "DB", "decibels", -120, 120, "the device's gain"),
         OptionRule::flag("--invert", "the device inverts the signal"),
         OptionRule::real("--noise", "DB", "decibels", 0, 200,
                          "white noise on both channels, that many dB below the burst's level"),
         OptionRule::real("--lowpass", "HZ", "Hz", 0, nyquist, "a low-pass filter", false, false),
         OptionRule::real("--highpass", "HZ", "Hz", 0, nyquist, "a high-pass filter", false, false),
         OptionRule::custom("--peaking", "HZ,Q,DB", peakingFilter,
                            "a frequency in " + peakFrequency.takes + ", " + filterQ.takes + ", and a gain in "
                                + peakGain.takes + ", as in 1000,2,6",
                            "a peaking filter"),
         filterQ,
         OptionRule::whole("--delay", "N", "frames", 0, longestDelay, "the device's delay"),
         OptionRule::choice("--device-on", "1|2|both", "the channels the device is on; default both"),
         OptionRule::whole("--cardioid", "START", "frames", 0, largestFrameCount,
                           "from frame START on, channel 1 follows a cardioid over a polar run's steps")}};
    return table;
}

int SimOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    const OptionTable& table = simOptionTable();
    SplitLine line;
    std::string refusal = table.split(argc, argv, line);
    if (!refusal.empty())
        return table.refuse(errors, refusal);
    if (line.positional.size() != 3)
        return table.refuseCount(errors);
    input = line.positional[1];
    output = line.positional[2];
    DeviceRequest request;
    for (const auto& [option, value] : line.options)
        if (!request.take(option, value, path))
            return table.refuse(errors, option + " refused: the device has one filter; give one of --lowpass, "
                                                 "--highpass and --peaking.");
    if (path.cardioidStart >= 0)
        path.cardioidStart += path.extraFramesBefore;
    request.build(path);
    return exitOk;
}
