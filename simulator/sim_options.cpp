#include "sim_options.h"

#include "command_line.h"
#include "exit_codes.h"
#include "number_text.h"
#include "option_reader.h"
#include "tone_burst.h"

#include <cmath>
#include <ostream>

namespace {

constexpr double nyquist = 22050.0;
constexpr std::int32_t longestDelay = 441000;   // ten seconds: the delay line is held in memory

// One option's value, read and checked; `problem` says what is wrong.
struct OptionValue {
    const std::string& option;
    const char* text;
    std::string problem;

    bool real(double low, double high, double& value, bool lowIncluded = true)
    {
        if (!isWholeReal(text)) {
            problem = "is not a number";
            return false;
        }
        value = parseReal(text);
        if (!(lowIncluded ? value >= low : value > low))
            problem = (lowIncluded ? "must be at least " : "must be above ") + fixedNumber(low);
        else if (!(value <= high))
            problem = "must be at most " + fixedNumber(high);
        return problem.empty();
    }

    // A frequency, which must lie below half the sample rate.
    bool frequency(double& value)
    {
        if (!real(0, nyquist, value, false))
            return false;
        if (value >= nyquist)
            problem = "must be below 22050, half the sample rate";
        return problem.empty();
    }

    bool integer(std::int32_t low, std::int32_t high, std::int32_t& value)
    {
        double wide = 0;
        if (!isWholeInteger(text)) {
            problem = "is not a whole number";
            return false;
        }
        wide = parseReal(text);   // exact for the digits, and never wraps
        if (!(wide >= low && wide <= high)) {
            problem = wide < low ? "must be at least " + std::to_string(low) : "must be at most " + std::to_string(high);
            return false;
        }
        value = static_cast<std::int32_t>(wide);
        return true;
    }

    static std::string fixedNumber(double value)
    {
        std::string text = std::to_string(value);
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
        return text;
    }
};

// What the options ask of the device before it is built.
struct DeviceRequest {
    ChannelPath device;
    double q = std::sqrt(0.5);
    double lowpass = 0, highpass = 0, peak[3] = {0, 0, 0};
    int filters = 0;
    std::string deviceOn = "both";

    // Reads one option's value into the request or the path; false, with
    // `value.problem` set, when the value is refused.
    bool take(const std::string& option, OptionValue& value, SimulatedPath& path);
    // Puts the device on the channels asked for.
    void build(SimulatedPath& path) const;
};

bool DeviceRequest::take(const std::string& option, OptionValue& value, SimulatedPath& path)
{
    double number = 0;
    std::int32_t whole = 0;
    bool ok = true;
    if (option == "--invert") {
        device.gain = -device.gain;
    } else if (option == "--latency") {
        ok = value.integer(0, 0x7FFFFFFF, whole);
        path.extraFramesBefore = whole;
    } else if (option == "--gain") {
        ok = value.real(-120, 120, number);
        device.gain *= std::pow(10.0, number / 20);
    } else if (option == "--noise") {
        ok = value.real(0, 200, number);
        path.noiseRms = driveAmplitude * std::pow(10.0, -number / 20);
    } else if (option == "--lowpass" || option == "--highpass") {
        ok = value.frequency(number);
        (option == "--lowpass" ? lowpass : highpass) = number;
        ++filters;
    } else if (option == "--q") {
        ok = value.real(0, 100, q, false);
    } else if (option == "--peaking") {
        std::string text = value.text;
        std::size_t first = text.find(','), second = text.find(',', first + 1);
        std::string parts[3] = {text.substr(0, first), first == std::string::npos ? "" : text.substr(first + 1, second - first - 1),
                                second == std::string::npos ? "" : text.substr(second + 1)};
        OptionValue hz{option, parts[0].c_str(), {}}, pq{option, parts[1].c_str(), {}}, db{option, parts[2].c_str(), {}};
        ok = hz.frequency(peak[0]) && pq.real(0, 100, peak[1], false) && db.real(-60, 60, peak[2]);
        value.problem = !hz.problem.empty() ? "the frequency " + hz.problem
            : !pq.problem.empty()           ? "the Q " + pq.problem
                                            : "the gain " + db.problem;
        ++filters;
    } else if (option == "--delay") {
        ok = value.integer(0, longestDelay, device.delayFrames);
    } else if (option == "--device-on") {
        deviceOn = value.text;
        ok = deviceOn == "1" || deviceOn == "2" || deviceOn == "both";
        value.problem = "must be 1, 2 or both";
    } else {
        ok = value.integer(0, 0x7FFFFFFF, whole);
        path.cardioidStart = whole;
    }
    return ok;
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

int SimOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    SplitLine line;
    std::string refusal = line.split(argc, argv,
                                     {{"--latency"}, {"--gain"}, {"--invert", false}, {"--noise"}, {"--lowpass"},
                                      {"--highpass"}, {"--peaking"}, {"--q"}, {"--delay"}, {"--device-on"},
                                      {"--cardioid"}},
                                     "ravsim");
    if (!refusal.empty())
        return refuseWithUsage(errors, refusal, simulatorSynopsis);
    if (line.positional.size() != 3) {
        writeUsage(errors, simulatorSynopsis);
        return exitUsage;
    }
    input = line.positional[1];
    output = line.positional[2];
    DeviceRequest request;
    for (const auto& [option, text] : line.options) {
        OptionValue value{option, text.c_str(), {}};
        if (!request.take(option, value, path))
            return refuseWithUsage(errors, "ravsim: " + option + " " + text + ": " + value.problem + ".",
                                   simulatorSynopsis);
    }
    if (request.filters > 1)
        return refuseWithUsage(errors, "ravsim: give one of --lowpass, --highpass and --peaking; the device has one "
                                       "filter.",
                               simulatorSynopsis);
    if (path.cardioidStart >= 0)
        path.cardioidStart += path.extraFramesBefore;
    request.build(path);
    return exitOk;
}
