#include "common/burst_schedule.h"
#include "common/little_endian.h"
#include "common/tone_burst.h"
#include "generator/burst_samples.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <sys/wait.h>

namespace {

std::int32_t field32(const std::string& wav, std::size_t offset)
{
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = (bits << 8) | static_cast<unsigned char>(wav.at(offset + static_cast<std::size_t>(i)));
    return static_cast<std::int32_t>(bits);
}

// The data chunk built one sample at a time, after a blank header: lead-in,
// then every repetition of every step. Kept deliberately naive so that the
// block-wise writer is checked against it.
std::string naiveFile(BurstSchedule schedule)
{
    std::string file(44, '\0');
    auto put = [&file](std::int16_t sample) {
        char bytes[2];
        putLittleEndian16(bytes, sample);
        file.append(bytes, 2);
    };
    for (std::int32_t i = 0; i < 2 * schedule.delay; ++i)
        put(0);
    for (schedule.begin(); schedule.hasMore(); schedule.next())
        for (std::int32_t r = 0; r < schedule.numAvg; ++r)
            for (std::int32_t i = 0; i < schedule.interval; ++i) {
                std::int16_t sample = 0;
                if (i < schedule.duration) {
                    double x = i * schedule.omega;
                    sample = static_cast<std::int16_t>(driveAmplitude * (std::cos(x) - std::cos(2 * x)));
                }
                put(sample);
                put(sample);
            }
    return file;
}

struct Generated {
    RunResult run;
    std::string wav;
};

Generated generate(const TempDir& dir, std::vector<std::string> args)
{
    std::string path = dir.file("out.wav");
    args.insert(args.begin(), path);
    Generated generated{runGeneratorWith(args), ""};
    generated.wav = readFile(path);
    return generated;
}

} // namespace

TEST(Generator, DefaultSweepFileAndReport)
{
    TempDir dir;
    Generated g = generate(dir, {});
    ASSERT_EQ(g.run.code, 0) << g.run.errors;
    EXPECT_EQ(g.run.errors, "");
    ASSERT_EQ(g.wav.size(), 17816444u);
    EXPECT_EQ(field32(g.wav, 4), 17816436);
    EXPECT_EQ(field32(g.wav, 40), 17816400);
    EXPECT_EQ(g.wav.compare(0, 4, "RIFF"), 0);

    const std::string expectedStart = "executable:\travgen\n arguments:\t1\n file name:\t" + dir.file("out.wav")
        + "\n      mode:\tfreq sweep\nstart freq:\t100\n  end freq:\t10000\n num steps:\t201\n"
          " averaging:\t1\n     delay:\t22050\n  interval:\t22050\nnumCyc\tduration\tnomFreq\tactFreq \n"
          "1\t441\t100\t100\n";
    EXPECT_EQ(g.run.report.substr(0, expectedStart.size()), expectedStart);
    auto rows = reportRows(g.run.report);
    ASSERT_EQ(rows.size(), 201u);
    EXPECT_EQ(rows.back(), (std::vector<std::string>{"23", "101", "10000", "10042.6"}));

    // The first burst, and the silence around it.
    const std::int64_t first = 22050;
    const std::int16_t expected[][2] = {{0, 0}, {1, 3}, {2, 14}, {110, 12042}, {220, -23998}, {440, 3}};
    for (const auto& e : expected)
        EXPECT_EQ(sampleAt(g.wav, first + e[0], 0), e[1]) << e[0];
    EXPECT_EQ(g.wav.substr(88248, 4), std::string("\x03\x00\x03\x00", 4));
    EXPECT_EQ(g.wav.substr(89124, 4), std::string("\x42\xA2\x42\xA2", 4));
    EXPECT_EQ(g.wav.find_first_not_of('\0', 44), 88248u);
    EXPECT_EQ(g.wav.find_first_not_of('\0', 44 + 4 * (first + 441)), std::size_t(44 + 4 * (2 * 22050 + 1)));
}

TEST(Generator, EveryFrameCarriesTheSameSampleOnBothChannels)
{
    TempDir dir;
    Generated g = generate(dir, {"10", "2", "300"});
    ASSERT_EQ(g.run.code, 0);
    for (std::size_t offset = 44; offset + 4 <= g.wav.size(); offset += 4)
        ASSERT_EQ(g.wav.compare(offset, 2, g.wav, offset + 2, 2), 0) << offset;
}

TEST(Generator, PolarRunRepeatsTheSameBurstEverySecond)
{
    TempDir dir;
    Generated g = generate(dir, {"22050", "1", "1000", "polar"});
    ASSERT_EQ(g.run.code, 0);
    ASSERT_EQ(g.wav.size(), 12789044u);
    EXPECT_EQ(field32(g.wav, 4), 12789036);
    EXPECT_EQ(reportRows(g.run.report).size(), 72u);
    for (std::int64_t step = 0; step < 72; ++step) {
        std::int64_t start = 22050 + step * 44100;
        EXPECT_EQ(sampleAt(g.wav, start + 1, 1), 363);
        EXPECT_EQ(sampleAt(g.wav, start + 2, 1), 1418);
        std::size_t silence = static_cast<std::size_t>(44 + 4 * (start + 132));
        std::size_t next = g.wav.find_first_not_of('\0', silence);
        EXPECT_EQ(next, step == 71 ? std::string::npos : std::size_t(44 + 4 * (start + 44100 + 1)));
    }
}

TEST(Generator, RepetitionsAreByteIdentical)
{
    TempDir dir;
    Generated g = generate(dir, {"0", "2"});
    ASSERT_EQ(g.run.code, 0);
    BurstSchedule schedule;
    std::size_t stepBytes = 2 * 22050 * 4;
    for (std::size_t step = 0; step < 201; ++step) {
        std::size_t start = 44 + step * stepBytes;
        ASSERT_EQ(g.wav.compare(start, stepBytes / 2, g.wav, start + stepBytes / 2, stepBytes / 2), 0) << step;
    }
    EXPECT_EQ(sampleAt(g.wav, 1, 0), 3);  // delay 0: the first burst starts at byte 44
}

TEST(Generator, NoRepetitionsLeavesOnlyTheLeadIn)
{
    TempDir dir;
    Generated g = generate(dir, {"1000", "0"});
    EXPECT_EQ(g.run.code, 0);
    EXPECT_EQ(g.wav.size(), 44u + 4000u);
    EXPECT_EQ(field32(g.wav, 40), 4000);
    EXPECT_EQ(reportRows(g.run.report).size(), 201u);
}

// The generator's arguments, and why the case is here.
struct BlockWiseCase {
    std::vector<std::string> args;
    const char* name;
};

void PrintTo(const BlockWiseCase& c, std::ostream* out)
{
    *out << c.name;
}

class BlockWiseFile : public ::testing::TestWithParam<BlockWiseCase> {};

TEST_P(BlockWiseFile, MatchesSampleBySampleConstruction)
{
    const BlockWiseCase& c = GetParam();
    TempDir dir;
    Generated g = generate(dir, c.args);
    ASSERT_EQ(g.run.code, 0);
    std::string naive = naiveFile(scheduleFor(c.args));
    ASSERT_EQ(g.wav.size(), naive.size());
    EXPECT_EQ(g.wav.compare(44, std::string::npos, naive, 44, std::string::npos), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockWiseFile,
    ::testing::Values(BlockWiseCase{{"7", "1", "20000"}, "FallingSweepOf46CyclesThroughout"},
                      BlockWiseCase{{"3", "2", "88200", "polar"}, "AboveTheSampleRate"},
                      BlockWiseCase{{"0", "1", "0.5", "polar"}, "ABurstLongerThanTheIntervalIsCut"},
                      BlockWiseCase{{"5", "3", "37.3"}, "BurstsAcrossSeveralWriterBlocks"},
                      BlockWiseCase{{}, "TheDefaultSweep"},
                      BlockWiseCase{{"22050", "2"}, "EachBurstWrittenTwiceFromOneComputation"}),
    [](const ::testing::TestParamInfo<BlockWiseCase>& info) { return info.param.name; });

TEST(BurstSamples, QuickSamplesEqualTheLibraryFormulaBitForBit)
{
    // Edges of the phase; fractions of a turn, whose values lie on or next
    // to whole numbers, where only the exact formula can tell; then
    // frequencies spread from 5 Hz to 30 kHz over a polar interval's worth
    // of frames, where x reaches 1.9e5.
    const double pi = std::acos(-1.0);
    struct Burst {
        std::int32_t frames;
        double omega;
    };
    std::vector<Burst> bursts = {
        {441, 0.0}, {441, 1e-300}, {441, 2 * pi * 100 / 44100}, {101, 2 * pi * 10000 / 44100},
        {44100, pi}, {44100, 2 * pi}, {44100, 22.6}, {44100, 23.0},   // either side of the quick reach
        {3, 1e300}, {0, 1.0}, {17, 1.0},
        {44100, pi / 2}, {44100, pi / 3}, {44100, 2 * pi / 3}, {44100, pi / 4}, {44100, pi / 6}, {44100, pi / 12},
    };
    std::uint32_t state = 1;
    for (int n = 0; n < 150; ++n) {
        state = state * 1664525u + 1013904223u;
        bursts.push_back({44100, 2 * pi * (5 + 30000.0 * state / 4294967296.0) / 44100});
    }
    std::vector<std::int16_t> quick(44100);
    for (const Burst& burst : bursts) {
        computeBurstSamples(burst.frames, burst.omega, quick.data());
        std::int32_t differing = 0;
        for (std::int32_t i = 0; i < burst.frames; ++i)
            differing += quick[static_cast<std::size_t>(i)] != toneBurstSample(i, burst.omega);
        EXPECT_EQ(differing, 0) << burst.frames << " frames at omega " << burst.omega;
    }
}

TEST(Generator, OpenFailureTouchesNothingElse)
{
    TempDir dir;
    std::string path = dir.file("missing/out.wav");
    RunResult run = runGeneratorWith({path});
    EXPECT_EQ(run.code, -2);
    EXPECT_EQ(run.report, "");
    EXPECT_EQ(run.errors, "Failed to open output file: " + path + "\n");
    RunResult directory = runGeneratorWith({dir.path});
    EXPECT_EQ(directory.code, -2);
}

struct FullDeviceRun {
    std::vector<std::string> args;
    std::size_t rows;
};

void PrintTo(const FullDeviceRun& c, std::ostream* out)
{
    for (const std::string& arg : c.args)
        *out << arg << ' ';
}

class GeneratorOnAFullDevice : public ::testing::TestWithParam<FullDeviceRun> {};

// Large runs fail in the first step whose frames fill the 256 KiB output
// chunk: after 2 steps (3 without the lead-in); a tiny one only at closing.
TEST_P(GeneratorOnAFullDevice, NeverEndsInSuccess)
{
    RunResult run = runGeneratorWith(GetParam().args);
    EXPECT_EQ(run.code, -4);
    EXPECT_EQ(run.errors, "Failed to write tone bursts to disk.\n");
    EXPECT_EQ(reportRows(run.report).size(), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(Values, GeneratorOnAFullDevice,
                         ::testing::Values(FullDeviceRun{{"/dev/full"}, 2}, FullDeviceRun{{"/dev/full", "0"}, 3},
                                           FullDeviceRun{{"/dev/full", "0", "0"}, 201},
                                           FullDeviceRun{{"/dev/full", "1", "0"}, 201}));

TEST(GeneratorProcess, ExitCodesAsStatuses)
{
    TempDir dir;
    EXPECT_EQ(runProcess(ravgenPath, {}).code, 255);
    RunResult refused = runProcess(ravgenPath, {dir.file("x.wav"), "-1"});
    EXPECT_EQ(refused.code, 255);
    EXPECT_EQ(readFile(dir.file("x.wav")), "");  // nothing created
    EXPECT_EQ(runProcess(ravgenPath, {dir.file("no/x.wav")}).code, 254);
    EXPECT_EQ(runProcess(ravgenPath, {"/dev/full", "0", "0"}).code, 252);
    RunResult ok = runProcess(ravgenPath, {dir.file("x.wav"), "100", "1", "1000", "polar"});
    EXPECT_EQ(ok.code, 0);
    EXPECT_EQ(readFile(dir.file("x.wav")).size(), 44u + 4u * (100u + 72u * 44100u));
    RunResult inProcess = runGeneratorWith({dir.file("x.wav"), "100", "1", "1000", "polar"});
    EXPECT_EQ(ok.report.substr(ok.report.find('\n')), inProcess.report.substr(inProcess.report.find('\n')));
}

class GeneratorOnAFillingFileSystem : public ::testing::TestWithParam<long long> {};

// A file size limit makes the writes fail from a chosen byte on, as a file
// system that fills up would; SIGXFSZ is ignored so that the write returns
// its error. The captured streams go through pipes, which the limit does not
// reach. Only a limit at the whole file's size lets the run succeed.
TEST_P(GeneratorOnAFillingFileSystem, AlwaysReportsTheFailure)
{
    const long long limit = GetParam(), whole = 17816444;
    const int expected = limit >= whole ? 0 : 252;
    TempDir dir;
    const std::string path = dir.file("limited.wav");
    std::string command = "set -o pipefail; trap '' XFSZ; prlimit --fsize=" + std::to_string(limit) + " "
        + ravgenPath + " " + path + " 2>&1 >/dev/null | cat > " + dir.file("err");
    int status = std::system(("bash -c \"" + command + "\"").c_str());
    EXPECT_EQ(WEXITSTATUS(status), expected);
    EXPECT_EQ(readFile(dir.file("err")), expected == 0 ? "" : "Failed to write tone bursts to disk.\n");
    EXPECT_EQ(static_cast<long long>(readFile(path).size()), std::min(limit, whole));
}

INSTANTIATE_TEST_SUITE_P(Limits, GeneratorOnAFillingFileSystem,
                         ::testing::Values(0, 44, 1000, 100000, 17816000, 17816443, 17816444));
