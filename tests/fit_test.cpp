// ravfit against devices whose true response comes from their coefficients:
// the generator's bursts evaluated at the recorder's sample times, through
// textbook biquads, a reflection, a soft clip or a turntable, at 16 bits and
// with noise. Channel 2 is the loopback, channel 1 the device.
#include "common/tone_burst.h"
#include "fit/fit.h"
#include "locator/step_table.h"
#include "tests/prep_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

namespace {

constexpr double latency = 700.4;

RunResult fitWith(const std::vector<std::string>& args)
{
    return runFlow(runFit, "ravfit", args);
}

// Writes `recording` and fits it with its own arguments and `extra`.
RunResult fitRecording(const SyntheticRecording& recording, const std::vector<std::string>& extra = {},
                       TempDir* keep = nullptr)
{
    TempDir dir;
    TempDir& where = keep != nullptr ? *keep : dir;
    recording.write(where.file("rec.wav"));
    std::vector<std::string> args{where.file("rec.wav")};
    args.insert(args.end(), recording.args.begin(), recording.args.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return fitWith(args);
}

double wrapped(double radians)
{
    return std::remainder(radians, 2 * std::acos(-1.0));
}

SyntheticRecording throughDevice(const RecorderChannel& device, double noiseDb = 0)
{
    SyntheticRecording recording;
    recording.latencyFrames = latency;
    recording.channels[0] = device;
    recording.noiseDb = noiseDb;
    return recording;
}

RecorderChannel withFilter(double gain, std::vector<Biquad> sections, double delay = 17.3)
{
    RecorderChannel device;
    device.gain = gain;
    device.filter = sections.at(0);
    device.more.assign(sections.begin() + 1, sections.end());
    device.delayFrames = delay;
    return device;
}

// A two-way loudspeaker: the woofer behind a 55 Hz high-pass (Q 0.8) and a
// fourth-order low-pass at 2.2 kHz, the tweeter behind the matching
// high-pass.
RecorderChannel twoWay()
{
    const double q = std::sqrt(0.5);
    RecorderChannel device = withFilter(0.7, {Biquad::highPass(55, 0.8), Biquad::lowPass(2200, q),
                                               Biquad::lowPass(2200, q)});
    device.parallel = {Biquad::highPass(2200, q), Biquad::highPass(2200, q)};
    return device;
}

struct FitCase {
    const char* name;
    SyntheticRecording recording;
    std::vector<std::string> extra;
    double levelDb, phaseDegrees;  // the largest departures allowed
    double lowest = 0, highest = 1e9;  // the steps held to them, Hz
    double withinDb = 20;              // ... where |H| is this close to its peak
};

void PrintTo(const FitCase& c, std::ostream* out)
{
    *out << c.name;
}

SyntheticRecording drifted(SyntheticRecording recording, double ppm)
{
    recording.ppm = ppm;
    return recording;
}

SyntheticRecording at48000(SyntheticRecording recording)
{
    recording.rate = 48000;
    return recording;
}

SyntheticRecording started(SyntheticRecording recording, const char* startFreq)
{
    recording.args = {"22050", "1", startFreq};
    return recording;
}

SyntheticRecording polarTurntable()
{
    SyntheticRecording recording = throughDevice(withFilter(0.5, {Biquad::peaking(1000, 2, 4)}), 60);
    recording.args = {"22050", "1", "1000", "polar"};
    for (int k = 0; k < 72; ++k)
        recording.channels[0].stepGains.push_back(0.7 + 0.3 * std::cos(2 * std::acos(-1.0) * k / 72));
    return recording;
}

const RecorderChannel lowPassQ2 = withFilter(0.4, {Biquad::lowPass(1000, 2)});
const RecorderChannel highPass = withFilter(0.8, {Biquad::highPass(1000, std::sqrt(0.5))});
const RecorderChannel peak = withFilter(0.4, {Biquad::peaking(1000, 8, 6)});
// A tweeter alone a metre away: its first hundred steps lie in its noise.
const RecorderChannel tweeter = withFilter(0.53, {Biquad::highPass(2500, std::sqrt(0.5)),
                                                  Biquad::highPass(2500, std::sqrt(0.5))}, 130);

class SteadyState : public testing::TestWithParam<FitCase> {};

TEST_P(SteadyState, MatchesTheTrueResponse)
{
    const FitCase& c = GetParam();
    RunResult run = fitRecording(c.recording, c.extra);
    ASSERT_EQ(run.code, 0) << run.errors;
    const RecorderChannel& device = c.recording.channels[0];
    std::vector<std::vector<std::string>> rows = reportRows(run.report);
    ASSERT_EQ(rows.size(), c.recording.args.size() > 3 ? 72u : 201u);
    std::vector<std::complex<double>> truth;
    double peakDb = -INFINITY;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        double gain = device.stepGains.empty() ? 1.0 : device.stepGains[k];
        truth.push_back(gain * device.response(std::stod(rows[k][3]), c.recording.ppm, c.recording.rate));
        peakDb = std::max(peakDb, 20 * std::log10(std::abs(truth.back())));
    }
    double worstLevel = 0, worstPhase = 0, errSquares = 0;
    int held = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        double frequency = std::stod(rows[k][3]);
        double trueDb = 20 * std::log10(std::abs(truth[k]));
        if (frequency < c.lowest || frequency > c.highest || trueDb < peakDb - c.withinDb)
            continue;
        ++held;
        // The differences to the loopback: what the converters do to both
        // channels cancels.
        worstLevel = std::max(worstLevel, std::fabs(std::stod(rows[k][6]) - trueDb));
        errSquares += std::pow((std::stod(rows[k][6]) - trueDb) / std::hypot(std::stod(rows[k][10]), std::stod(rows[k][11])), 2);
        worstPhase = std::max(worstPhase, std::fabs(wrapped(std::stod(rows[k][9]) + std::arg(truth[k]))));
    }
    EXPECT_GT(held, 10);
    EXPECT_LE(worstLevel, c.levelDb) << c.name;
    EXPECT_LE(worstPhase * 180 / std::acos(-1.0), c.phaseDegrees) << c.name;
    // err is a standard uncertainty, whatever the recorder's rate: where
    // noise rules the errors, their rms is about err's.
    const double errRms = std::sqrt(errSquares / held);
    if (c.recording.noiseDb > 0) {
        EXPECT_LE(errRms, 1.5) << c.name;
    }
    std::printf("%s: %d steps, worst %.4f dB, %.4f deg, error / err rms %.2f\n", c.name, held, worstLevel,
                worstPhase * 180 / std::acos(-1.0), errRms);
}

INSTANTIATE_TEST_SUITE_P(Devices, SteadyState, testing::Values(
    FitCase{"LowPassQ2", throughDevice(lowPassQ2), {}, 0.005, 0.05},
    FitCase{"HighPass", throughDevice(highPass), {}, 0.005, 0.05},
    FitCase{"PeakQ8", throughDevice(peak), {}, 0.005, 0.05},
    FitCase{"TwoWay", throughDevice(twoWay()), {}, 0.005, 0.05},
    FitCase{"LowPassQ2Noise60", throughDevice(lowPassQ2, 60), {}, 0.03, 0.2},
    FitCase{"HighPassNoise60", throughDevice(highPass, 60), {}, 0.03, 0.2},
    FitCase{"PeakQ8Noise60", throughDevice(peak, 60), {}, 0.03, 0.2},
    FitCase{"TwoWayNoise60", throughDevice(twoWay(), 60), {}, 0.03, 0.2},
    FitCase{"TweeterAMetreAwayNoise60", throughDevice(tweeter, 60), {}, 0.03, 0.3},
    FitCase{"TwoWayFrom20HzNoise60", started(throughDevice(twoWay(), 60), "20"), {}, 0.01, 0.2, 20, 50, 60},
    FitCase{"PeakQ8Fast100ppm", drifted(throughDevice(peak), 100), {}, 0.005, 0.05},
    FitCase{"TwoWaySlow100ppmNoise60", drifted(throughDevice(twoWay(), 60), -100), {}, 0.03, 0.2},
    FitCase{"TwoWayAt48000Fast43ppmNoise60", at48000(drifted(throughDevice(twoWay(), 60), 43)), {}, 0.03, 0.2},
    FitCase{"PolarTurntableNoise60", polarTurntable(), {}, 0.03, 0.2, 0, 1e9, 6}),
    [](const testing::TestParamInfo<FitCase>& info) { return std::string(info.param.name); });

// A reflection 6 dB down, 3 ms after the sound: --gate 2.9 reads the
// loudspeaker as if it were not there.
TEST(Gate, LeavesOutAReflectionAfterIt)
{
    RecorderChannel direct = twoWay();
    direct.delayFrames = 0;
    RecorderChannel reflected = direct;
    reflected.echoGain = 0.5;
    reflected.echoFrames = 132;
    RunResult with = fitRecording(throughDevice(reflected), {"--gate", "2.9"});
    RunResult without = fitRecording(throughDevice(direct), {"--gate", "2.9"});
    ASSERT_EQ(with.code, 0) << with.errors;
    ASSERT_EQ(without.code, 0) << without.errors;
    std::vector<std::vector<std::string>> a = reportRows(with.report), b = reportRows(without.report);
    ASSERT_EQ(a.size(), b.size());
    double worst = 0;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (std::stod(a[k][3]) > 3000)
            worst = std::max(worst, std::fabs(std::stod(a[k][6]) - std::stod(b[k][6])));
    EXPECT_LE(worst, 0.05);
    std::printf("gate: worst %.4f dB above 3 kHz\n", worst);
    // Where 2.9 ms holds fewer than three periods the row is left out.
    for (const std::vector<std::string>& row : a)
        EXPECT_EQ(std::isnan(std::stod(row[4])), std::stod(row[3]) * 0.0029 < 3) << row[3];
}

TEST(Gate, ThatHoldsThreePeriodsOfNoStepIsRefused)
{
    RunResult run = fitWith({"rec.wav", "--gate", "0.05"});
    EXPECT_EQ(run.code, -1);
    EXPECT_EQ(run.errors.rfind("--gate 0.050 refused: a gate reads a step only where it holds three periods of it, and "
                               "this run's highest step, 10043 Hz, needs 0.299 ms.\n", 0),
              0u)
        << run.errors;
}

// A soft clip at 1 % THD: `dist` is what the best linear response leaves
// of the clipped bursts, worked out here from the burst formula.
struct DistortionCase {
    const char* name;
    double thd;        // of a soft clip at the burst's amplitude; 0 for a linear path
    double noiseDb;
    int rate;
    double withinDb;   // of the true residual, on every step
};

void PrintTo(const DistortionCase& c, std::ostream* out)
{
    *out << c.name;
}

class Distortion : public testing::TestWithParam<DistortionCase> {};

// A soft clip's residual against its best linear fit, worked out from the
// generator's own samples; a linear path has none, on every step, however
// the recorder's converter rings around each edge.
TEST_P(Distortion, ReadsTheTrueResidualOnEveryStep)
{
    const DistortionCase& c = GetParam();
    const double level = c.thd > 0 ? 12000 / std::sqrt(12 * c.thd) : 0;
    RecorderChannel device;
    device.clipLevel = level;
    // A whole-frame latency: at 44100 Hz the recorder takes the generator's
    // own samples, which the truth below is worked out from.
    SyntheticRecording recording = throughDevice(device, c.noiseDb);
    recording.latencyFrames = 700;
    recording.rate = c.rate;
    RunResult run = fitRecording(recording);
    ASSERT_EQ(run.code, 0) << run.errors;
    StepTable table = StepTable::from(scheduleFor({}));
    std::vector<std::vector<std::string>> rows = reportRows(run.report);
    ASSERT_EQ(rows.size(), table.steps.size());
    double worst = 0;
    int read = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        for (int channel : {12, 13}) {
            const bool linear = channel == 13 || c.thd == 0;
            if (linear) {
                EXPECT_EQ(rows[k][channel], "-inf") << c.name << " step " << k + 1 << " column " << channel;
                continue;
            }
            double vy = 0, vv = 0, miss = 0, kept = 0;
            for (std::int32_t n = 0; n < table.steps[k].duration; ++n) {
                double v = toneBurstSample(n, table.steps[k].omega);
                vy += v * level * std::tanh(v / level);
                vv += v * v;
            }
            for (std::int32_t n = 0; n < table.steps[k].duration; ++n) {
                double v = toneBurstSample(n, table.steps[k].omega);
                miss += std::pow(level * std::tanh(v / level) - vy / vv * v, 2);
                kept += std::pow(vy / vv * v, 2);
            }
            worst = std::max(worst, std::fabs(std::stod(rows[k][channel]) - 10 * std::log10(miss / kept)));
            ++read;
        }
    }
    EXPECT_LE(worst, c.withinDb) << c.name;
    std::printf("%s: %d steps read, worst %.2f dB from the true residual\n", c.name, read, worst);
}

INSTANTIATE_TEST_SUITE_P(Paths, Distortion, testing::Values(
    DistortionCase{"OnePercentNoise60", 0.01, 60, 44100, 3.0},
    DistortionCase{"TenthOfAPercentNoise80", 0.001, 80, 44100, 2.0},
    DistortionCase{"LinearNoise70", 0, 70, 44100, 0},
    DistortionCase{"LinearAt48000Noise70", 0, 70, 48000, 0}),
    [](const testing::TestParamInfo<DistortionCase>& info) { return std::string(info.param.name); });

// A dropout inside step 101's burst on the device's channel: the step is
// left out of the fit, its response read from the others, its distortion
// and noise not read at all.
TEST(Damage, LeavesTheStepOutOfTheFit)
{
    SyntheticRecording recording = throughDevice(lowPassQ2);
    const double burst = 22050 + 100 * 22050 + lowPassQ2.delayFrames;  // played time
    recording.damage.push_back(ChannelDamage{0, burst + 20, burst + 40, 0});
    RunResult run = fitRecording(recording);
    ASSERT_EQ(run.code, 0) << run.errors;
    EXPECT_NE(run.report.find("damaged 1:\t101\n"), std::string::npos) << run.report;
    EXPECT_NE(run.errors.find("left out of the fit"), std::string::npos) << run.errors;
    std::vector<std::string> row = reportRows(run.report).at(100);
    EXPECT_EQ(row[12], "nan");
    EXPECT_EQ(row[14], "nan");
    EXPECT_NEAR(std::stod(row[6]), 20 * std::log10(std::abs(lowPassQ2.response(std::stod(row[3])))), 0.005);
}

// --ppo gives a log grid where both levels are known to 1 dB; --ir writes
// both impulse responses, the loopback's a single tap on time.
TEST(Outputs, GridAndImpulseResponses)
{
    TempDir dir;
    RunResult run = fitRecording(throughDevice(withFilter(0.5, {Biquad()}), 60), {"--ppo", "3", "--ir", dir.file("h.wav")},
                                 &dir);
    ASSERT_EQ(run.code, 0) << run.errors;
    std::vector<std::vector<std::string>> rows = reportRows(run.report);
    ASSERT_GT(rows.size(), 20u);
    EXPECT_EQ(rows[0].size(), 9u);
    EXPECT_LT(std::stod(rows.front()[0]), 20);
    std::printf("grid: %s to %s Hz\n", rows.front()[0].c_str(), rows.back()[0].c_str());
    EXPECT_GT(std::stod(rows.back()[0]), 15000);
    SF_INFO info{};
    SNDFILE* file = sf_open(dir.file("h.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.frames, 16384);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> h(static_cast<std::size_t>(info.frames * 2));
    sf_readf_float(file, h.data(), info.frames);
    sf_close(file);
    // The loopback's tap on time, a little below 1: nothing above the
    // bursts' band (about 20 kHz) is identified.
    std::size_t largest = 0;
    for (std::size_t m = 0; m < h.size() / 2; ++m)
        if (std::fabs(h[2 * m + 1]) > std::fabs(h[2 * largest + 1]))
            largest = m;
    EXPECT_EQ(largest, 32u);
    EXPECT_NEAR(h[2 * 32 + 1], 1.0, 0.02);
}

// The grid goes beyond the steps, so each of its rows must stand on what
// the steps tell: within six of its own err of the truth, wherever it is
// printed (a two-way measured from 200 Hz at 48000 Hz printed 1-2 Hz rows
// 10 dB off).
TEST(Outputs, GridRowsHoldToTheirErr)
{
    SyntheticRecording recording = drifted(started(throughDevice(twoWay(), 70), "200"), 43);
    recording.rate = 48000;
    RunResult run = fitRecording(recording, {"--ppo", "12"});
    ASSERT_EQ(run.code, 0) << run.errors;
    const RecorderChannel& device = recording.channels[0];
    int held = 0;
    for (const std::vector<std::string>& row : reportRows(run.report)) {
        double frequency = std::stod(row[0]);
        double trueLevel = std::abs(device.response(frequency, recording.ppm, recording.rate));
        // err is a standard uncertainty in dB; as a share of the level, both
        // channels' together.
        double share = std::hypot(std::pow(10, std::stod(row[7]) / 20) - 1, std::pow(10, std::stod(row[8]) / 20) - 1);
        double level = std::pow(10, std::stod(row[3]) / 20);
        EXPECT_LE(std::fabs(level / trueLevel - 1), std::max(6 * share, 0.001)) << row[0] << " Hz";
        ++held;
    }
    EXPECT_GT(held, 100);
}

// A recorder at half the player's rate: its converter and the resampler
// ring before the arrival near its half rate, where the top steps lie, and
// its noise fills only its own band. Each channel's own level (no loopback
// to cancel what both share) holds to its err (it read 0.29 dB off at
// 9.9 kHz, 36 of its err).
TEST(Outputs, ARecorderAtHalfTheRateReadsLevelsWithinTheirErr)
{
    SyntheticRecording flat;
    flat.rate = 22050;
    flat.noiseDb = 60;
    RunResult run = fitRecording(flat, {});
    ASSERT_EQ(run.code, 0) << run.errors;
    double squares = 0, worst = 0;
    int held = 0;
    for (const std::vector<std::string>& row : reportRows(run.report))
        for (std::size_t c : {4, 5}) {
            const double level = std::stod(row[c]), err = std::stod(row[c + 6]);
            if (!std::isfinite(level))
                continue;  // above 0.45 of the rate: damaged
            squares += (level / err) * (level / err);
            worst = std::max(worst, std::fabs(level));
            ++held;
        }
    EXPECT_GT(held, 390);
    EXPECT_LE(std::sqrt(squares / held), 1.5);
    EXPECT_LE(worst, 0.02);
}

struct RefusedOption {
    std::vector<std::string> args;
    const char* line;
};

void PrintTo(const RefusedOption& c, std::ostream* out)
{
    *out << c.line;
}

class Options : public testing::TestWithParam<RefusedOption> {};

TEST_P(Options, RefusedWithTheUsage)
{
    RunResult run = fitWith(GetParam().args);
    EXPECT_EQ(run.code, -1);
    EXPECT_NE(run.errors.find(GetParam().line), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("Usage: ravfit recording"), std::string::npos);
}

TEST(Options, ImpulseFileIsNotTheRecording)
{
    TempDir dir;
    writeFile(dir.file("rec.wav"), generatedFile());
    RunResult run = fitWith({dir.file("rec.wav"), "--ir", dir.file("rec.wav")});
    EXPECT_EQ(run.code, -1);
    EXPECT_NE(run.errors.find("is the recording itself"), std::string::npos) << run.errors;
    EXPECT_EQ(readFile(dir.file("rec.wav")), generatedFile());
}

INSTANTIATE_TEST_SUITE_P(Refused, Options, testing::Values(
    RefusedOption{{"rec.wav", "--gate", "0"}, "--gate 0 refused: it takes milliseconds above 0, at most 371.5."},
    RefusedOption{{"rec.wav", "--ppo", "200"}, "--ppo 200 refused: it takes a whole number of points per octave"},
    RefusedOption{{"rec.wav", "22050", "1", "1000", "polar", "--ppo", "3"}, "--ppo refused: a polar run"},
    RefusedOption{{"rec.wav", "--ir"}, "--ir refused: it takes a file name."},
    RefusedOption{{"rec.wav", "--output", "x"}, "--output refused: ravfit has no such option."}));

} // namespace
