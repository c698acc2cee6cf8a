// The locator on its own, fed frames made here from the burst formula (no
// file, no resampler): every step found, each channel's arrival and the
// clock as the timing solution reads them.
#include "common/tone_burst.h"
#include "locator/burst_locator.h"
#include "locator/event_probe.h"
#include "locator/finding_words.h"
#include "locator/timing_solution.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct LocatorCase {
    const char* name;
    std::vector<std::string> args;  // the generator's, after the file name
    int latency;                    // whole frames before the run
    int extra[2];                   // each channel's own further delay
    double gain[2];                 // negative inverts
};

void PrintTo(const LocatorCase& c, std::ostream* out)
{
    *out << c.name;
}

// Pushes the generator's samples, as a recorder on the player's clock
// would take them, `latency` + `extra` frames late, a block at a time.
void feed(BurstLocator& locator, const StepTable& table, const LocatorCase& c)
{
    const std::int64_t frames = static_cast<std::int64_t>(table.playedLength()) + c.latency + 44100;
    std::vector<double> block;
    auto sampleAt = [&](std::int64_t played) {
        std::int64_t since = played - table.delay;
        if (since < 0 || since >= table.bursts() * table.interval)
            return 0.0;
        std::int64_t burst = since / table.interval;
        std::int64_t n = since - burst * table.interval;
        const StepInfo& step = table.stepOf(burst);
        return n < step.duration ? double(toneBurstSample(static_cast<std::int32_t>(n), step.omega)) : 0.0;
    };
    for (std::int64_t m = 0; m < frames; ++m) {
        for (int ch = 0; ch < 2; ++ch)
            block.push_back(c.gain[ch] * sampleAt(m - c.latency - c.extra[ch]));
        if (block.size() == 16384 || m + 1 == frames) {
            locator.push(block.data(), static_cast<std::int64_t>(block.size() / 2));
            block.clear();
        }
    }
    locator.finish();
}

class Locator : public testing::TestWithParam<LocatorCase> {};

TEST_P(Locator, FindsEveryStepAndEachArrival)
{
    const LocatorCase& c = GetParam();
    StepTable table = StepTable::from(scheduleFor(c.args));
    BurstLocator locator;
    locator.start(table, 44100);
    feed(locator, table, c);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ(locator.channel(ch).hits.size(), static_cast<std::size_t>(table.bursts())) << ch;
    TimingSolution timing = solveTiming(locator, ReferenceChoice::automatic);
    ASSERT_TRUE(timing.channels[0].found && timing.channels[1].found);
    EXPECT_NEAR(timing.ppm, 0.0, 0.01);
    EXPECT_EQ(timing.segments.size(), 1u);
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_NEAR(timing.channels[ch].arrival, double(table.delay + c.latency + c.extra[ch]), 0.05) << ch;
        EXPECT_EQ(timing.channels[ch].polarity, c.gain[ch] < 0 ? -1 : 1) << ch;
    }
    // The loopback is the channel that arrives first with the generator's shape.
    EXPECT_EQ(timing.reference, c.extra[1] <= c.extra[0] ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, Locator, testing::Values(
    LocatorCase{"SweepLoopbackOnChannel2", {}, 1234, {17, 0}, {0.5, 1.0}},
    LocatorCase{"SweepDeviceInverted", {}, 300, {64, 0}, {-0.25, 1.0}},
    LocatorCase{"SweepLoopbackOnChannel1", {}, 0, {0, 40}, {1.0, 0.3}},
    LocatorCase{"PolarAt2000Hz", {"22050", "1", "2000", "polar"}, 777, {5, 0}, {0.7, 1.0}},
    LocatorCase{"SweepNumAvg2", {"22050", "2"}, 50, {3, 0}, {0.5, 1.0}}),
    [](const testing::TestParamInfo<LocatorCase>& info) { return std::string(info.param.name); });

} // namespace

namespace {

// A burst of the generator's shape, `frames` frames long at `hertz`, on
// a background of -1 (a recorder's offset), after and before quiet.
double probedFrequency(double hertz, int frames)
{
    EventProbe probe;
    probe.start(44100);
    for (int i = 0; i < 22050; ++i)
        probe.push(-1);
    double omega = 2 * std::acos(-1.0) * hertz / 44100;
    for (int i = 0; i < frames; ++i)
        probe.push(toneBurstSample(i, omega));
    for (int i = 0; i < 22050; ++i)
        probe.push(-1);
    return probe.frequency();
}

} // namespace

// The first sound's frequency names the run the user played: whole bursts
// of one cycle and of many, and one longer than the frames counted.
TEST(EventProbe, TellsTheFirstBurstsFrequency)
{
    struct Case {
        double hertz;
        int frames;
    } cases[] = {{100, 441}, {102.3, 862}, {1000, 441}, {30, 4410}, {12, 3675}};
    for (const Case& c : cases)
        EXPECT_NEAR(probedFrequency(c.hertz, c.frames) / c.hertz, 1, 0.01) << c.hertz;
}

// Every finding reads as one line, and a program without options names
// none; ravprep's voice names its own.
TEST(FindingWords, EveryKindIsALineAndNamesOnlyTheVoicesOptions)
{
    StepTable table = StepTable::from(BurstSchedule());
    const FindingVoice none;
    const FindingVoice prep{"give --reference none to say so, or ", " or give --reference", ""};
    for (int kind = 0; kind <= static_cast<int>(FindingKind::inverted); ++kind) {
        Finding finding;
        finding.kind = static_cast<FindingKind>(kind);
        finding.channel = 0;
        std::string line = findingText(finding, table, none);
        EXPECT_FALSE(line.empty()) << kind;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        EXPECT_EQ(line.find("--"), std::string::npos) << line;
    }
    Finding noLoopback;
    noLoopback.kind = FindingKind::noLoopback;
    EXPECT_NE(findingText(noLoopback, table, prep).find("give --reference none"), std::string::npos);
}
