#include "common/burst_schedule.h"
#include "common/tone_burst.h"
#include "simulator/simulated_path.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const double pi = std::acos(-1.0);

const std::string& sweepFile()
{
    return generatedFile();
}

struct Row {
    int duration;
    double actFreq;
    double abs[2], dB[2], dBDiff, phase[2], phaseDiff, bkg[2];
};

std::vector<Row> measure(const std::string& recording, const std::vector<std::string>& args = {})
{
    RunResult run = runAnalyzerOn(recording, args);
    EXPECT_EQ(run.code, 0) << run.errors;
    std::vector<Row> rows;
    for (const auto& cells : reportRows(run.report)) {
        auto v = [&cells](int i) { return std::strtod(cells.at(static_cast<std::size_t>(i)).c_str(), nullptr); };
        rows.push_back(Row{static_cast<int>(v(1)), v(3), {v(4), v(5)}, {v(6), v(7)}, v(8), {v(9), v(10)}, v(11),
                           {v(12), v(13)}});
    }
    return rows;
}

const std::vector<Row>& loopback()
{
    static const std::vector<Row> rows = measure(sweepFile());
    return rows;
}

double omegaOf(const Row& row)
{
    return (row.actFreq * fullTurn) / 44100;
}

// Phase difference brought into -pi .. pi.
double wrapped(double phase)
{
    return std::remainder(phase, 2 * pi);
}

} // namespace

struct GainCase {
    double gain;
    double toleranceDb;  // 16-bit rounding of the scaled samples
};

void PrintTo(const GainCase& c, std::ostream* out)
{
    *out << c.gain;
}

class GainShows : public ::testing::TestWithParam<GainCase> {};

TEST_P(GainShows, AsLevelOnEveryStep)
{
    const GainCase& c = GetParam();
    SimulatedPath path;
    path.channels[0].gain = path.channels[1].gain = c.gain;
    std::vector<Row> rows = measure(path.record(sweepFile()));
    ASSERT_EQ(rows.size(), 201u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_NEAR(rows[i].dB[ch] - loopback()[i].dB[ch], 20 * std::log10(c.gain), c.toleranceDb) << "step " << i;
        EXPECT_EQ(rows[i].dBDiff, 0.0);
        EXPECT_EQ(rows[i].phaseDiff, 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Gains, GainShows,
                         ::testing::Values(GainCase{1.3, 0.002}, GainCase{0.9, 0.002}, GainCase{0.5, 0.002},
                                           GainCase{0.25, 0.002}, GainCase{0.1, 0.01}));

TEST(SimulatedPath, DelayOnOneChannelShowsAsPhaseDifference)
{
    for (int delayed : {0, 1})
        for (int frames : {1, 3}) {
            SimulatedPath path;
            path.channels[delayed].delayFrames = frames;
            std::vector<Row> rows = measure(path.record(sweepFile()));
            double sign = delayed == 0 ? 1.0 : -1.0;  // positive when channel 1 lags
            int checked = 0;
            for (const Row& row : rows) {
                if (row.duration < 200)
                    continue;
                ++checked;
                EXPECT_NEAR(row.phaseDiff, sign * omegaOf(row) * frames, 0.001) << row.actFreq;
                EXPECT_NEAR(row.dBDiff, 0.0, 0.02) << row.actFreq;
            }
            EXPECT_GT(checked, 20);
        }
}

TEST(SimulatedPath, InvertedPolarityReadsHalfATurn)
{
    SimulatedPath path;
    path.channels[0].gain = path.channels[1].gain = -1.0;
    for (const Row& row : measure(path.record(sweepFile())))
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_NEAR(std::fabs(row.phase[ch]), pi, 1e-4) << row.actFreq;
}

TEST(SimulatedPath, LowPassFollowsItsResponseWellBelowTheCorner)
{
    for (double corner : {2000.0, 8000.0}) {
        SimulatedPath path;
        path.channels[0].filter = path.channels[1].filter = Biquad::lowPass(corner, std::sqrt(0.5));
        int checked = 0;
        for (const Row& row : measure(path.record(sweepFile()))) {
            if (4 * row.actFreq > corner)
                continue;
            ++checked;
            std::complex<double> h = path.channels[0].response(row.actFreq);
            EXPECT_NEAR(row.dB[0], 20 * std::log10(std::abs(h)), 0.1) << corner << " " << row.actFreq;
            EXPECT_NEAR(wrapped(row.phase[0] + std::arg(h)), 0.0, 0.01) << corner << " " << row.actFreq;
        }
        EXPECT_GT(checked, 20);
    }
}

TEST(SimulatedPath, NoiseLeavesLevelsAndShowsInTheBackground)
{
    double meanBackground[2] = {0, 0};
    const double noiseDb[2] = {-60, -66};
    for (int run = 0; run < 2; ++run) {
        SimulatedPath path;
        path.noiseRms = driveAmplitude * std::pow(10.0, noiseDb[run] / 20);
        path.noiseSeed = 7;
        std::vector<Row> rows = measure(path.record(sweepFile()));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            for (int ch = 0; ch < 2; ++ch) {
                EXPECT_NEAR(rows[i].dB[ch], loopback()[i].dB[ch], 0.01) << i;
                ASSERT_TRUE(std::isfinite(rows[i].bkg[ch])) << i;
                meanBackground[run] += rows[i].bkg[ch] / (2.0 * static_cast<double>(rows.size()));
            }
        }
    }
    EXPECT_NEAR(meanBackground[0] - meanBackground[1], 6.0, 0.5);
}

TEST(SimulatedPath, ExtraFramesAheadAreSkippedByALongerDelay)
{
    SimulatedPath shifted;
    shifted.extraFramesBefore = 5;
    RunResult plain = runAnalyzerOn(sweepFile(), {"22050"});
    RunResult later = runAnalyzerOn(shifted.record(sweepFile()), {"22055"});
    auto afterSettings = [](const std::string& report) { return report.substr(report.find("numCyc")); };
    EXPECT_EQ(afterSettings(later.report), afterSettings(plain.report));
}

TEST(SimulatedPath, ClippingAndTruncationAreRecordedAsSuch)
{
    SimulatedPath loud;
    loud.channels[0].gain = 4.0;
    std::string recording = loud.record(sweepFile());
    EXPECT_EQ(sampleAt(recording, 22050 + 220, 0), -32768);
    EXPECT_EQ(sampleAt(recording, 22050 + 220, 1), -23998);
    SimulatedPath cut;
    cut.keepBytes = 1000;
    EXPECT_EQ(cut.record(sweepFile()).size(), 1000u);
}
