#include "common/little_endian.h"
#include "common/units.h"
#include "simulator/simulated_path.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {


long generatorDelay(const std::vector<std::string>& args)
{
    return scheduleFor(args).delay;
}

// The value after "delay:\t" on the report's last line, or -1.
long foundDelay(const RunResult& run)
{
    std::size_t at = run.report.rfind("delay:\t");
    return at == std::string::npos ? -1 : std::atol(run.report.c_str() + at + 7);
}

const std::vector<std::vector<std::string>> argumentSets = {
    {},                                // default sweep
    {"22050", "1", "20000"},           // falling sweep
    {"22050", "1", "1000", "polar"},
    {"0", "1", "7000", "polar"},
    {"22050", "3"},
    {"0"},
};

struct Variant {
    int latency;
    double gainDb;
    int polarity;
};

const Variant variants[] = {
    {0, 0, 1}, {1, -40, -1}, {4410, 6, 1}, {88200, -20, -1}, {123, -40, 1}, {37, 6, -1},
};

SimulatedPath pathFor(const Variant& v, std::uint32_t seed)
{
    SimulatedPath path;
    double gain = v.polarity * std::pow(10.0, v.gainDb / 20);
    for (ChannelPath& channel : path.channels)
        channel.gain = gain;
    path.extraFramesBefore = v.latency;
    // White noise 40 dB below the recorded burst's peak of 24000 * gain.
    path.noiseRms = 24000 * std::fabs(gain) / 100;
    path.noiseSeed = seed;
    return path;
}

// Each argument set is a case of its own; the device's variants run within
// it on the one generated file.
class DelayFinderOn : public ::testing::TestWithParam<std::size_t> {};

std::string caseName(const ::testing::TestParamInfo<std::size_t>& info)
{
    const std::vector<std::string>& args = argumentSets[info.param];
    // A name of digits alone would read as a case's number.
    std::string name = args.empty() ? "default" : "args";
    for (const std::string& arg : args)
        name += "_" + arg;
    return name;
}

} // namespace

TEST_P(DelayFinderOn, FindsTheExactFrameThroughGainPolarityLatencyAndNoise)
{
    const std::vector<std::string>& args = argumentSets[GetParam()];
    std::uint32_t seed = 1 + static_cast<std::uint32_t>(GetParam() * std::size(variants));
    for (const Variant& v : variants) {
        SimulatedPath path = pathFor(v, ++seed);
        RunResult run = runDelayFinderOn(path.record(generatedFile(args)), args);
        std::string label = "latency " + std::to_string(v.latency) + " gain " + std::to_string(v.gainDb);
        EXPECT_EQ(run.code, 0) << label << run.errors;
        EXPECT_EQ(foundDelay(run), generatorDelay(args) + v.latency) << label;
        std::string polarity = v.polarity > 0 ? "\t+1\t" : "\t-1\t";
        EXPECT_NE(run.report.find("channel 1:\t" + std::to_string(foundDelay(run)) + polarity), std::string::npos)
            << label << "\n" << run.report;
    }
}

TEST_P(DelayFinderOn, FindsFilteredBurstsWithinThePathsOwnDelay)
{
    const std::vector<std::string>& args = argumentSets[GetParam()];
    const Biquad filters[] = {Biquad::lowPass(2000, std::sqrt(0.5)), Biquad::firstOrderLowPass(5000)};
    for (const Biquad& filter : filters) {
        SimulatedPath path = pathFor({1000, 0, 1}, 99);
        path.channels[0].filter = path.channels[1].filter = filter;
        RunResult run = runDelayFinderOn(path.record(generatedFile(args)), args);
        EXPECT_EQ(run.code, 0) << run.errors;
        long late = foundDelay(run) - (generatorDelay(args) + 1000);
        std::string label = &filter == &filters[0] ? "low-pass 2 kHz" : "first-order 5 kHz";
        // A falling sweep's first steps (20 kHz) reach the output of the
        // 2 kHz low-pass 40 dB down, level with the noise, and almost only
        // as their aliased harmonic, whose match lands several frames
        // early; hence a window both ways, wider there.
        std::printf("%s: %+ld frames\n", label.c_str(), late);
        bool falling = args.size() > 2 && args[2] == "20000";
        EXPECT_LE(std::labs(late), falling && &filter == &filters[0] ? 10 : 6) << label;
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, DelayFinderOn, ::testing::Range<std::size_t>(0, argumentSets.size()), caseName);

TEST(DelayFinder, ReportsEachChannelAndTakesTheEarlier)
{
    SimulatedPath path;
    path.channels[1].delayFrames = 250;
    path.channels[1].gain = 0.5;
    RunResult run = runDelayFinderOn(path.record(generatedFile({})), {});
    ASSERT_EQ(run.code, 0);
    std::string tail = run.report.substr(run.report.find("channel:"));
    EXPECT_EQ(tail, "channel:\tfirst step frame\tpolarity\tdB above noise\nchannel 1:\t22050\t+1\tinf\nchannel 2:\t22300\t+1\tinf\ndelay:\t22050\n");
    EXPECT_EQ(run.report.substr(0, 11), "executable:");

    SimulatedPath oneDead;
    oneDead.channels[0].gain = 0;
    oneDead.noiseRms = 30;
    RunResult dead = runDelayFinderOn(oneDead.record(generatedFile({})), {});
    ASSERT_EQ(dead.code, 0);
    EXPECT_NE(dead.report.find("channel 1:\tnone\n"), std::string::npos);
    EXPECT_NE(dead.report.find("delay:\t22050\n"), std::string::npos);
    // 12000 rms-ish burst over noise of 30: about 50 dB.
    double level = std::strtod(dead.report.c_str() + dead.report.rfind("+1\t") + 3, nullptr);
    EXPECT_NEAR(level, 50, 3);
}

TEST(DelayFinder, FailuresEndWithTheirCodes)
{
    SimulatedPath noiseOnly;
    noiseOnly.channels[0].gain = noiseOnly.channels[1].gain = 0;
    noiseOnly.noiseRms = 1000;
    RunResult noise = runDelayFinderOn(noiseOnly.record(generatedFile({})), {});
    EXPECT_EQ(noise.code, -5);
    EXPECT_NE(noise.errors.find("No tone burst found"), std::string::npos);
    EXPECT_NE(noise.report.find("channel 1:\tnone\nchannel 2:\tnone\n"), std::string::npos);

    EXPECT_EQ(runDelayFinderOn(generatedFile({"100", "0"}), {"100", "0"}).code, -5);

    // Recording started inside the second step's burst: no quiet lead-in.
    std::string late = generatedFile({"22050", "1", "1000", "polar"});
    late.erase(44, static_cast<std::size_t>(4 * (22050 + 44100 + 20)));
    RunResult started = runDelayFinderOn(late, {"22050", "1", "1000", "polar"});
    EXPECT_EQ(started.code, -5);
    EXPECT_NE(started.errors.find("after a quiet lead-in"), std::string::npos);
    EXPECT_EQ(runDelayFinderOn(generatedFile({}).substr(0, 40), {}).code, -3);
    EXPECT_EQ(runDelayFinderOn(generatedFile({}), {"0", "1", "0"}).code, -1);
    TempDir dir;
    RunResult missing = runProcess(ravdelayPath, {dir.file("none.wav")});
    EXPECT_EQ(missing.code, 254);
    EXPECT_EQ(missing.errors, "Failed to open input file: " + dir.file("none.wav") + "\n");
    EXPECT_EQ(runProcess(ravdelayPath, {}).code, 255);
}

namespace {

// Adds `add(frame)` to both channels of every frame of a 16-bit recording.
template <typename Add>
std::string withAdded(std::string wav, Add add)
{
    for (std::size_t offset = 44; offset + 4 <= wav.size(); offset += 4)
        for (int c = 0; c < 2; ++c) {
            std::size_t at = offset + 2 * static_cast<std::size_t>(c);
            double value = littleEndian16(&wav[at]) + add(static_cast<long>((offset - 44) / 4));
            putLittleEndian16(&wav[at], static_cast<std::int32_t>(std::fmax(-32768, std::fmin(32767, value))));
        }
    return wav;
}

// The hostile recordings, each made when its case runs.
std::string slowStart()
{
    return generatedFile({"22050", "1", "12"});
}

std::string thumpInLeadIn()
{
    return withAdded(generatedFile({}), [](long f) {
        return f >= 5000 && f < 5441 ? 15000 * std::sin(turn * 100 * (f - 5000) / 44100.0) : 0.0;
    });
}

std::string hum()
{
    return withAdded(generatedFile({}), [](long f) {
        return 300 * std::sin(turn * 100 * f / 44100.0) + 300 * std::sin(turn * 150 * f / 44100.0);
    });
}

std::string dcOffset()
{
    return withAdded(generatedFile({}), [](long) { return 3000.0; });
}

std::string shortLeadIn()
{
    return generatedFile({"30"});
}

std::string cutInFirstBurst()
{
    std::string sweep = generatedFile({});
    sweep.erase(44, 4 * (22050 + 200));
    return sweep;
}

struct Hostile {
    const char* name;
    std::vector<std::string> args;
    std::string (*recording)();
    int code;
    long delay;   // expected answer when code is 0
};

void PrintTo(const Hostile& c, std::ostream* out)
{
    *out << c.name;
}

class DelayFinderOnHostile : public ::testing::TestWithParam<Hostile> {};

} // namespace

TEST_P(DelayFinderOnHostile, GivesTheRightFrameOrARefusal)
{
    const Hostile& c = GetParam();
    RunResult run = runDelayFinderOn(c.recording(), c.args);
    EXPECT_EQ(run.code, c.code) << run.report << run.errors;
    if (c.code == 0) {
        EXPECT_EQ(foundDelay(run), c.delay) << run.report;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, DelayFinderOnHostile,
    ::testing::Values(Hostile{"start at 12 Hz", {"22050", "1", "12"}, slowStart, 0, 22050},
                      Hostile{"a 100 Hz thump in the lead-in", {}, thumpInLeadIn, 0, 22050},
                      Hostile{"hum at 100 and 150 Hz", {}, hum, 0, 22050},
                      Hostile{"a DC offset", {}, dcOffset, 0, 22050},
                      Hostile{"a lead-in of 30 frames", {"30"}, shortLeadIn, 0, 30},
                      Hostile{"cut inside the first burst", {}, cutInFirstBurst, -5, 0}));

TEST(DelayFinder, AnEndlessRecordingEnds)
{
    // /dev/zero never ends: the search gives up once it has read more than
    // any recording of the run can hold.
    RunResult zero = runProcess("/bin/sh", {"-c", std::string("head -c 44 /dev/zero | cat - /dev/zero | ")
                                                   + ravdelayPath + " /dev/stdin 22050 1 1000 polar"});
    EXPECT_EQ(zero.code, 251) << zero.errors;
}
