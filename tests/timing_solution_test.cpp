// The timing fed with the bursts a locator would report (no samples, no
// file): which channel is the loopback, the clock and its segments, each
// channel's lag, and the proof that every burst lies on its line.
#include "locator/timing_solution.h"
#include "tests/found_bursts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace {

const StepTable& sweep = sweepFrom100Hz();

struct TimingCase {
    const char* name;
    std::function<void(FoundBursts&)> recording;
    int reference;
    double ppm;
    double timeOfFlight;              // played frames
    std::vector<std::int64_t> cuts;   // the first burst of each segment after the first
};

void PrintTo(const TimingCase& c, std::ostream* out)
{
    *out << c.name;
}

void loopbackOnChannel1(FoundBursts& bursts)
{
    std::swap(bursts.score[0], bursts.score[1]);
    std::swap(bursts.tone[0], bursts.tone[1]);
    std::swap(bursts.gain[0], bursts.gain[1]);
}

const TimingCase timingCases[] = {
    {"LoopbackOnChannel2", [](FoundBursts&) {}, 1, 0, 3.5, {}},
    {"LoopbackOnChannel1", loopbackOnChannel1, 0, 0, -3.5, {}},
    {"ClockFiftyPpmFast", [](FoundBursts& b) { b.ppm = 50; }, 1, 50, 3.5 / 1.00005, {}},
    {"RecordedAt48kHz", [](FoundBursts& b) { b.inputRate = 48000; }, 1, 0, 3.5 * 44100 / 48000, {}},
    {"SixteenFramesLostBeforeStep144", [](FoundBursts& b) { b.moved = [](std::int64_t k) { return k >= 143 ? -16.0 : 0.0; }; },
     1, 0, 3.5, {143}},
    {"OneFrameInsertedBeforeStep101", [](FoundBursts& b) { b.moved = [](std::int64_t k) { return k >= 100 ? 1.0 : 0.0; }; },
     1, 0, 3.5, {100}},
    {"OneFrameLostEveryFiftySteps",
     [](FoundBursts& b) { b.moved = [](std::int64_t k) { return -double(k / 50); }; }, 1, 0, 3.5, {50, 100, 150, 200}},
    // A divider's driver keeps nearly the generator's shape: the loopback
    // is the channel the generator's burst explains better, not the first.
    {"ImpedanceDividerArrivingFirst",
     [](FoundBursts& b) {
         b.score[0] = 0.9999;
         b.lag[0] = -2;
     },
     1, 0, -2, {}},
    // Both channels shaped by a filter: no loopback, the clock from both.
    {"NoLoopback",
     [](FoundBursts& b) {
         b.score[0] = b.score[1] = 0.95;
         b.tone[1] = b.tone[0];
     },
     -1, 0, 0, {}},
};

class Timing : public testing::TestWithParam<TimingCase> {};

TEST_P(Timing, FindsTheLoopbackTheClockAndEveryCut)
{
    const TimingCase& c = GetParam();
    FoundBursts bursts(sweep);
    c.recording(bursts);
    BurstLocator locator;
    const TimingSolution timing = bursts.solve(locator);
    EXPECT_EQ(timing.reference, c.reference);
    EXPECT_NEAR(timing.ppm, c.ppm, 0.001);
    ASSERT_EQ(timing.segments.size(), c.cuts.size() + 1);
    for (std::size_t k = 0; k < c.cuts.size(); ++k)
        EXPECT_EQ(timing.segments[k + 1].firstBurst, c.cuts[k]) << k;
    if (c.reference < 0)
        return;
    EXPECT_NEAR(timing.timeOfFlight, c.timeOfFlight, 0.01);
    const std::vector<std::uint8_t> none(sweep.steps.size(), 0);
    EXPECT_LT(provenResidual(locator, timing, none), 0.01);
    // The loopback's first step lies where the recorder put it.
    EXPECT_NEAR(timing.channels[c.reference].arrival, bursts.burstStart(c.reference, 0), 0.01);
}

INSTANTIATE_TEST_SUITE_P(Recordings, Timing, testing::ValuesIn(timingCases),
                         [](const testing::TestParamInfo<TimingCase>& info) { return info.param.name; });

// A loopback burst half a frame off its line is no step the timing
// explains: the proof says so until the step is marked damaged.
TEST(Timing, AStepOffItsLineShowsInTheProofUntilDamaged)
{
    FoundBursts bursts(sweep);
    bursts.moved = [](std::int64_t k) { return k == 100 ? 0.5 : 0.0; };
    BurstLocator locator;
    const TimingSolution timing = bursts.solve(locator);
    ASSERT_EQ(timing.segments.size(), 1u);
    std::vector<std::uint8_t> damaged(sweep.steps.size(), 0);
    EXPECT_NEAR(provenResidual(locator, timing, damaged), 0.5, 0.02);
    const BurstHit& off = locator.channel(1).hits[100];
    EXPECT_GT(unexplainedDeparture(locator, timing, off), 0.4);
    damaged[100] = 1;
    EXPECT_LT(provenResidual(locator, timing, damaged), 0.01);
}

// The user's word picks the reference, even where the other channel
// matches the generator's burst as well.
TEST(Timing, TheReferenceGivenIsTheReferenceTaken)
{
    FoundBursts bursts(sweep);
    bursts.score[0] = bursts.score[1];
    bursts.tone[0] = bursts.tone[1];
    BurstLocator locator;
    bursts.fill(locator);
    EXPECT_EQ(solveTiming(locator, ReferenceChoice::channel1).reference, 0);
    EXPECT_EQ(solveTiming(locator, ReferenceChoice::channel2).reference, 1);
    EXPECT_EQ(solveTiming(locator, ReferenceChoice::none).reference, -1);
}

} // namespace
