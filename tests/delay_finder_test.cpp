#include "bits.h"
#include "simulated_path.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
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

} // namespace

TEST(DelayFinder, FindsTheExactFrameThroughGainPolarityLatencyAndNoise)
{
    std::uint32_t seed = 1;
    for (const auto& args : argumentSets)
        for (const Variant& v : variants) {
            SimulatedPath path = pathFor(v, ++seed);
            RunResult run = runDelayFinderOn(path.record(generatedFile(args)), args);
            std::string label = (args.empty() ? std::string("default") : args.size() > 2 ? args[2] : args[0])
                + " latency " + std::to_string(v.latency) + " gain " + std::to_string(v.gainDb);
            ASSERT_EQ(run.code, 0) << label << run.errors;
            EXPECT_EQ(foundDelay(run), generatorDelay(args) + v.latency) << label;
            std::string polarity = v.polarity > 0 ? "\t+1\t" : "\t-1\t";
            EXPECT_NE(run.report.find("channel 1:\t" + std::to_string(foundDelay(run)) + polarity), std::string::npos)
                << label << "\n" << run.report;
        }
}

TEST(DelayFinder, FindsFilteredBurstsWithinThePathsOwnDelay)
{
    const Biquad filters[] = {Biquad::lowPass(2000, std::sqrt(0.5)), Biquad::firstOrderLowPass(5000)};
    for (const auto& args : argumentSets)
        for (const Biquad& filter : filters) {
            SimulatedPath path = pathFor({1000, 0, 1}, 99);
            path.channels[0].filter = path.channels[1].filter = filter;
            RunResult run = runDelayFinderOn(path.record(generatedFile(args)), args);
            EXPECT_EQ(run.code, 0) << run.errors;
            long late = foundDelay(run) - (generatorDelay(args) + 1000);
            std::string label = (args.empty() ? std::string("default") : args.size() > 2 ? args[2] : args[0])
                + (&filter == &filters[0] ? " low-pass 2 kHz" : " first-order 5 kHz");
            // A falling sweep's first steps (20 kHz) reach the output of
            // the 2 kHz low-pass 40 dB down, level with the noise, and
            // almost only as their aliased harmonic, whose match lands
            // several frames early; hence a window both ways, wider there.
            std::printf("%s: %+ld frames\n", label.c_str(), late);
            bool falling = !args.empty() && args.size() > 2 && args[2] == "20000";
            EXPECT_LE(std::labs(late), falling && &filter == &filters[0] ? 10 : 6) << label;
        }
}

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

struct Hostile {
    const char* name;
    std::vector<std::string> args;
    std::string recording;
    int code;
    long delay;   // expected answer when code is 0
};

} // namespace

TEST(DelayFinder, HostileRecordingsGiveTheRightFrameOrARefusal)
{
    const double pi = std::acos(-1.0);
    const std::vector<std::string> slow{"22050", "1", "12"};
    std::string sweep = generatedFile({});
    std::string cutInBurst = sweep;
    cutInBurst.erase(44, 4 * (22050 + 200));
    std::string shortLeadIn = generatedFile({"30"});
    const std::vector<Hostile> cases = {
        {"start at 12 Hz", slow, generatedFile(slow), 0, 22050},
        {"a 100 Hz thump in the lead-in", {}, withAdded(sweep, [&](long f) {
             return f >= 5000 && f < 5441 ? 15000 * std::sin(2 * pi * 100 * (f - 5000) / 44100.0) : 0.0;
         }), 0, 22050},
        {"hum at 100 and 150 Hz", {}, withAdded(sweep, [&](long f) {
             return 300 * std::sin(2 * pi * 100 * f / 44100.0) + 300 * std::sin(2 * pi * 150 * f / 44100.0);
         }), 0, 22050},
        {"a DC offset", {}, withAdded(sweep, [](long) { return 3000.0; }), 0, 22050},
        {"a lead-in of 30 frames", {"30"}, shortLeadIn, 0, 30},
        {"cut inside the first burst", {}, cutInBurst, -5, 0},
    };
    for (const Hostile& c : cases) {
        RunResult run = runDelayFinderOn(c.recording, c.args);
        EXPECT_EQ(run.code, c.code) << c.name << "\n" << run.report << run.errors;
        if (c.code == 0) {
            EXPECT_EQ(foundDelay(run), c.delay) << c.name << "\n" << run.report;
        }
    }
}

TEST(DelayFinder, AnEndlessRecordingEnds)
{
    // /dev/zero never ends: the search gives up once it has read more than
    // any recording of the run can hold.
    RunResult zero = runProcess("/bin/sh", {"-c", std::string("head -c 44 /dev/zero | cat - /dev/zero | ")
                                                   + ravdelayPath + " /dev/stdin 22050 1 1000 polar"});
    EXPECT_EQ(zero.code, 251) << zero.errors;
}
