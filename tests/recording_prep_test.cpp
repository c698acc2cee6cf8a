#include "recording/fractional_delay.h"
#include "tests/prep_support.h"
#include "tests/synthetic_recording.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    SyntheticRecording recording;
    std::vector<std::string> options;
    double level, phase;    // held for dB 1, dB 2, dB diff / phase 1, phase 2
    double clock;           // ppm, within
    double residual;        // frames, below
};

SyntheticRecording withDevice(SyntheticRecording recording)
{
    recording.channels[0].gain = 0.5;
    return recording;
}

SyntheticRecording drifted(double ppm)
{
    SyntheticRecording recording;
    recording.ppm = ppm;
    recording.latencyFrames = 3000.3;
    return withDevice(recording);
}

SyntheticRecording formatted(int rate, int format, int channels = 2, bool list = false)
{
    SyntheticRecording recording;
    recording.rate = rate;
    recording.format = format;
    recording.fileChannels = channels;
    recording.listChunk = list;
    recording.latencyFrames = 1234;
    return channels == 2 ? withDevice(recording) : recording;
}

SyntheticRecording varied(double latencySeconds, double gainDb, int polarity, double noiseDb, double humDb,
                          std::vector<std::string> args = {})
{
    SyntheticRecording recording;
    recording.args = args;
    recording.latencyFrames = latencySeconds * 44100;
    double gain = polarity * std::pow(10.0, gainDb / 20);
    recording.channels[0].gain = gain;
    recording.channels[1].gain = std::pow(10.0, gainDb / 20);
    recording.noiseDb = noiseDb;
    recording.humDb = humDb;
    recording.ppm = 37;
    return recording;
}

// The accuracy list: drift both ways, formats and rates, hostile paths.
std::vector<Case> accuracyCases()
{
    const double level = 0.005, phase = 0.01;
    // Where noise or 16-bit rounding of a quiet signal is added anew by each
    // recording, the two reports differ by that noise: at -40 dB the
    // rounding alone is about 0.003 dB a burst, at 50 dB below the peak
    // the noise about 0.01 dB, so the largest of 201 steps reaches a few
    // hundredths. Hum does the same: its phase against the bursts differs
    // with the latency.
    const double noisyLevel = 0.05, noisyPhase = 0.01;
    return {
        {"+20 ppm", drifted(20), {}, level, phase, 0.01, 0.01},
        {"-20 ppm", drifted(-20), {}, level, phase, 0.01, 0.01},
        {"+50 ppm", drifted(50), {}, level, phase, 0.01, 0.01},
        {"-100 ppm", drifted(-100), {}, level, phase, 0.01, 0.01},
        {"+300 ppm", drifted(300), {}, level, phase, 0.01, 0.01},
        {"-300 ppm", drifted(-300), {}, level, phase, 0.01, 0.01},
        {"48 kHz 24-bit", formatted(48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24), {}, level, phase, 0.01, 0.01},
        {"float", formatted(44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT), {}, level, phase, 0.01, 0.01},
        {"extensible", formatted(96000, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24), {}, level, phase, 0.01, 0.01},
        {"LIST chunk", formatted(44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, true), {}, level, phase, 0.01, 0.01},
        {"FLAC", formatted(48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_24), {}, level, phase, 0.01, 0.01},
        {"mono", formatted(48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1), {}, level, phase, 0.05, 0.01},
        {"no latency, -40 dB", varied(0, -40, 1, 0, 0), {}, noisyLevel, noisyPhase, 0.01, 0.05},
        {"2 s, +2.5 dB, inverted", varied(2, 2.5, -1, 0, 0), {}, level, phase, 0.01, 0.01},
        {"noise 50 dB down", varied(0.5, 0, 1, 50, 0), {}, noisyLevel, noisyPhase, 0.01, 0.05},
        {"hum 40 dB down", varied(0.5, 0, 1, 0, 40), {}, noisyLevel, noisyPhase, 0.01, 0.05},
        {"polar 500", varied(0.3, 0, 1, 0, 0, {"22050", "1", "500", "polar"}), {}, level, phase, 0.01, 0.01},
        {"polar 2000", varied(0.3, -6, -1, 0, 0, {"22050", "1", "2000", "polar"}), {}, level, phase, 0.01, 0.01},
        {"polar 8000", varied(0.3, 0, 1, 0, 0, {"22050", "1", "8000", "polar"}), {}, level, phase, 0.01, 0.01},
        {"falling sweep", varied(0.3, 0, 1, 0, 0, {"22050", "1", "20000"}), {}, level, phase, 0.01, 0.01},
    };
}

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

// "+20 ppm" as "Plus20ppm", "48 kHz 24-bit" as "48kHz24bit": a name a test
// may carry.
std::string testName(const testing::TestParamInfo<Case>& info)
{
    std::string name;
    for (char ch : std::string(info.param.name)) {
        if (name.empty() && (ch == '+' || ch == '-'))
            name += ch == '+' ? "Plus" : "Minus";
        else if (std::isalnum(static_cast<unsigned char>(ch)))
            name += ch;
    }
    return name;
}

class PrepAccuracy : public testing::TestWithParam<Case> {};

} // namespace

TEST_P(PrepAccuracy, MeetsTheAccuracyListOnDriftFormatsAndHostilePaths)
{
    const double level = 0.005;
    const Case& c = GetParam();
    PrepRun run = prepare(c.recording, c.options);
    ASSERT_EQ(run.code, 0) << c.name << "\n" << run.errors << run.report;
    std::vector<std::string> args = c.recording.args;
    Departure worst = compare(run.aligned, sameClockRecording(c.recording), args);
    std::printf("%-22s clock %+9.3f ppm (true %+.0f)  residual %.4f  level %.5f dB  phase %.5f rad  "
                "diff %.5f dB %.5f rad\n",
                c.name, run.clock, c.recording.ppm, run.residual, worst.level, worst.phase, worst.diffLevel,
                worst.diffPhase);
    EXPECT_NEAR(run.clock, c.recording.ppm, c.clock) << c.name;
    EXPECT_LT(run.residual, c.residual) << c.name;
    EXPECT_LE(worst.level, c.level) << c.name;
    EXPECT_LE(worst.diffLevel, c.level) << c.name;
    EXPECT_LE(worst.phase, c.phase) << c.name << "\n" << run.report << run.errors;
    EXPECT_LE(worst.diffPhase, c.level == level ? 0.005 : c.phase) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, PrepAccuracy, testing::ValuesIn(accuracyCases()), testName);

TEST(RecordingPrep, RemovesTheTimeOfFlightOfAnAcousticChannel)
{
    SyntheticRecording air;
    air.channels[0].filter = Biquad::lowPass(8000, std::sqrt(0.5));
    air.channels[0].highPass = Biquad::highPass(80, std::sqrt(0.5));
    air.channels[0].delayFrames = 64;
    air.noiseDb = 50;
    air.ppm = 30;
    air.latencyFrames = 5000;
    PrepRun run = prepare(air);
    ASSERT_EQ(run.code, 0) << run.errors;
    EXPECT_NEAR(run.flight, 64, 1.5) << run.report;
    EXPECT_NE(run.report.find("reference:\tchannel 2\n"), std::string::npos) << run.report;

    SyntheticRecording filtersAlone = air;
    filtersAlone.channels[0].delayFrames = 0;
    Departure worst = compare(run.aligned, sameClockRecording(filtersAlone), {});
    std::printf("time of flight %.2f frames; dB diff within %.4f dB of the filters alone\n", run.flight,
                worst.diffLevel);
    EXPECT_LE(worst.diffLevel, 0.1);
}

// A device without a loopback: an 8 kHz low-pass and a high-pass at
// `highPassHz`, on a clock 50 ppm fast.
namespace {
SyntheticRecording withoutALoopback(const char* numAvg, double highPassHz)
{
    SyntheticRecording device;
    device.args = {"22050", numAvg};
    for (RecorderChannel& channel : device.channels) {
        channel.filter = Biquad::lowPass(8000, std::sqrt(0.5));
        channel.highPass = Biquad::highPass(highPassHz, std::sqrt(0.5));
    }
    device.ppm = 50;
    device.latencyFrames = 2000;
    return device;
}
} // namespace

TEST(RecordingPrep, MeasuresTheClockWithoutALoopback)
{
    for (const char* numAvg : {"2", "1"}) {
        PrepRun run = prepare(withoutALoopback(numAvg, 20), {"--reference", "none"});
        ASSERT_EQ(run.code, 0) << run.errors;
        std::printf("no loopback, numAvg %s: clock %+.4f ppm (true +50)\n", numAvg, run.clock);
        EXPECT_NE(run.report.find("reference:\tnone\n"), std::string::npos);
        EXPECT_NE(run.report.find("segments:\t1\n"), std::string::npos) << run.report;
        if (std::string(numAvg) == "2") {
            EXPECT_NEAR(run.clock, 50, 0.05);
        } else {
            EXPECT_NEAR(run.clock, 50, 1.0) << run.report;
            EXPECT_NE(run.report.find("numAvg 2"), std::string::npos);
            // The uncertainty it prints covers the clock's true error.
            double uncertainty = valueAfter(run.report, "uncertainty:\t");
            std::printf("uncertainty %.3f ppm\n", uncertainty);
            EXPECT_LE(std::fabs(run.clock - 50), 3 * uncertainty) << run.report;
        }
    }
}

// Behind an 80 Hz high-pass the low steps' onsets ring for much of their
// bursts: their match moves by a share of a period where the generator's
// burst explains them again (step 51), which no line can tell from frames
// lost. Without a loopback that is refused (it read a jump of 61 frames
// there, with status 0, and rows up to 19 dB off).
TEST(RecordingPrep, AFilterOnsetWithoutALoopbackIsRefused)
{
    for (const char* numAvg : {"2", "1"}) {
        PrepRun run = prepare(withoutALoopback(numAvg, 80), {"--reference", "none"});
        EXPECT_EQ(run.code, -7) << run.report;
        EXPECT_NE(run.errors.find("Refused: without a loopback, channel 1's bursts change their place at step "),
                  std::string::npos)
            << run.errors;
    }
}

// Both channels behind a low-pass at 3 kHz: past its corner the
// generator's burst matches each step as well a cycle away with the other
// sign, so neither channel is a loopback, and the match's hops between
// those branches are no frames lost.
TEST(RecordingPrep, ALowPassOnBothChannelsIsNoLoopbackAndHasNoJump)
{
    SyntheticRecording device;
    for (RecorderChannel& channel : device.channels)
        channel.filter = Biquad::lowPass(3000, std::sqrt(0.5));
    device.latencyFrames = 700.4;
    device.ppm = 20;
    const std::string same = sameClockRecording(device);
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--reference", "none"}}) {
        PrepRun run = prepare(device, extra);
        ASSERT_EQ(run.code, 0) << run.errors;
        EXPECT_NE(run.report.find("reference:\tnone\n"), std::string::npos) << run.report;
        EXPECT_NE(run.report.find("segments:\t1\n"), std::string::npos) << run.report;
        EXPECT_EQ(run.report.find("jump:"), std::string::npos) << run.report;
        EXPECT_LE(std::fabs(run.clock - 20), 3 * valueAfter(run.report, "uncertainty:\t")) << run.report;
        // Without a loopback the steps' phases are the device's against its
        // own arrival, not comparable with the take's: only the rows' count.
        Departure worst = compare(run.aligned, same, device.args);
        std::printf("low-pass on both, %s: clock %+.4f ppm, level %.5f dB\n", extra.empty() ? "automatic" : "none",
                    run.clock, worst.level);
        EXPECT_EQ(worst.silentRows, 0);
    }
}

TEST(RecordingPrep, APipeIsRefusedAndAnEarlierOutputKeptWhole)
{
    // A FIFO can be read once; ravprep reads a recording twice. Refused
    // before anything is written, the file already at the output stays.
    TempDir dir;
    writeFile(dir.file("aligned.wav"), "an earlier output");
    writeFile(dir.file("sweep.wav"), generatedFile());
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::string feed = "cat '" + dir.file("sweep.wav") + "' > '" + dir.file("fifo") + "' 2>/dev/null &";
    ASSERT_EQ(std::system(feed.c_str()), 0);
    RunResult result = runPrepWith({dir.file("fifo"), dir.file("aligned.wav")});
    EXPECT_EQ(result.code, -2) << result.errors;
    EXPECT_NE(result.errors.find("can be read only once"), std::string::npos) << result.errors;
    EXPECT_EQ(readFile(dir.file("aligned.wav")), "an earlier output");
}

TEST(FractionalDelay, SideBySideSumsEqualOneAtATime)
{
    // Counts below, at and off the eight sums taken together; advances at
    // the ends of the range and between.
    std::vector<double> input(400 + FractionalDelay::taps);
    std::uint32_t state = 7;
    for (double& sample : input) {
        state = state * 1664525u + 1013904223u;
        sample = (static_cast<double>(state) - 2147483648.0) / 65536.0;
    }
    for (double advance : {0.0, 1e-6, 0.25, 0.5, 0.999999})
        for (std::size_t count : {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(8), std::size_t(9),
                                  std::size_t(400)}) {
            FractionalDelay shift;
            shift.start(advance);
            std::vector<double> output(count);
            shift.apply(input.data(), count, output.data());
            for (std::size_t j = 0; j < count; ++j)
                ASSERT_EQ(output[j], shift.at(input.data() + j)) << advance << " " << count << " " << j;
        }
}

// A lone microphone in a room: a floor reflection 6 dB down 3.5 ms after
// the direct sound, the microphone's own roll-offs, noise 50 dB down.
namespace {
SyntheticRecording loneMicrophoneInARoom()
{
    SyntheticRecording room;
    for (RecorderChannel& channel : room.channels) {
        channel.gain = 0.5;
        channel.filter = Biquad::lowPass(8000, std::sqrt(0.5));
        channel.highPass = Biquad::highPass(80, std::sqrt(0.5));
        channel.echoGain = 0.5;
        channel.echoFrames = 154;
    }
    room.noiseDb = 50;
    return room;
}
} // namespace

TEST(RecordingPrep, ALoneMicrophoneInARoomIsRead)
{
    SyntheticRecording room = loneMicrophoneInARoom();
    room.latencyFrames = 3000.7;
    room.leadSeconds = 1;
    PrepRun run = prepare(room, {"--reference", "none"});
    ASSERT_EQ(run.code, 0) << run.errors;
    EXPECT_NE(run.report.find("segments:\t1\n"), std::string::npos) << run.report;
    EXPECT_LE(std::fabs(run.clock), 3 * valueAfter(run.report, "uncertainty:\t")) << run.report;
}

// Without a loopback the device places the bursts, and a frame or two lost
// or inserted moves them by less than the lines cut at: such a take is
// refused, since nothing places its steps (it read with status 0, every
// step after the loss a frame off).
TEST(RecordingPrep, AFewFramesLostWithoutALoopbackAreRefused)
{
    for (std::int64_t frames : {0, -1, 1, -2}) {
        SyntheticRecording room = loneMicrophoneInARoom();
        room.ppm = 50;
        room.latencyFrames = 2000.4;
        if (frames != 0)
            room.edits.push_back(FrameEdit{22050 + 150 * 22050 + 11025 + 2000, frames});
        PrepRun run = prepare(room, {"--reference", "none"});
        // Clean, no step is damaged: where the reflection meets bursts of
        // another length (step 66) what the tone leaves changes at once,
        // and stays.
        if (frames == 0) {
            EXPECT_EQ(run.code, 0) << run.errors;
            EXPECT_NE(run.report.find("damaged 1:\tnone\n"), std::string::npos) << run.report;
            continue;
        }
        // The loss lies between steps 151 and 152: either names it.
        EXPECT_EQ(run.code, -7) << frames << "\n" << run.report;
        const std::string said = "Refused: without a loopback, channel 1's bursts near step ";
        EXPECT_TRUE(run.errors.find(said + "151 lie") != std::string::npos
                    || run.errors.find(said + "152 lie") != std::string::npos)
            << run.errors;
    }
}
