// The judgement fed with the bursts a locator would report and the timing
// solved from them (no samples, no file): which steps of which channel are
// damaged, and where the recording jumped.
#include "locator/step_judgement.h"
#include "tests/found_bursts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace {

const StepTable& sweep = sweepFrom100Hz();

struct JudgementCase {
    const char* name;
    std::function<void(FoundBursts&)> recording;
    std::vector<std::int64_t> damaged[2];  // 0-based steps
    std::vector<double> jumps = {};        // frames, in order
    std::vector<std::int64_t> nonfinite = {};  // input frames of channel 1 that are not numbers
};

void PrintTo(const JudgementCase& c, std::ostream* out)
{
    *out << c.name;
}

// Steps from `first` to the last, 0-based.
std::vector<std::int64_t> from(std::int64_t first)
{
    std::vector<std::int64_t> steps;
    for (std::int64_t s = first; s < std::int64_t(sweep.steps.size()); ++s)
        steps.push_back(s);
    return steps;
}

const double middleOfStep60 = 22050 + 59 * 22050.0 + 1500 + 200;

const JudgementCase judgementCases[] = {
    {"Clean", [](FoundBursts&) {}, {{}, {}}},
    {"ClickInTheLoopbacksStep80", [](FoundBursts& b) { b.struck[1] = {79}; }, {{79}, {79}}},
    {"ClickInTheDevicesStep120", [](FoundBursts& b) { b.struck[0] = {119}; }, {{119}, {}}},
    {"DevicesStep150Missing", [](FoundBursts& b) { b.missing[0] = {149}; }, {{149}, {}}},
    {"LoopbacksStep150Missing", [](FoundBursts& b) { b.missing[1] = {149}; }, {{149}, {149}}},
    {"SixteenFramesLostBeforeStep144",
     [](FoundBursts& b) { b.moved = [](std::int64_t k) { return k >= 143 ? -16.0 : 0.0; }; }, {{}, {}}, {-16}},
    {"RecordedAt22050Hz", [](FoundBursts& b) { b.inputRate = 22050; }, {from(200), from(200)}},
    {"NotANumberInTheDevicesStep60", [](FoundBursts&) {}, {{59}, {}}, {}, {static_cast<std::int64_t>(middleOfStep60)}},
};

class Judgement : public testing::TestWithParam<JudgementCase> {};

TEST_P(Judgement, DamagesWhatTheTimingAndTheBurstsDoNotExplain)
{
    const JudgementCase& c = GetParam();
    FoundBursts bursts(sweep);
    c.recording(bursts);
    BurstLocator locator;
    const TimingSolution timing = bursts.solve(locator);
    ASSERT_EQ(timing.reference, 1);
    const std::vector<std::int64_t> nonfinite[2] = {c.nonfinite, {}};
    const StepVerdict verdict = judgeSteps(locator, timing, bursts.inputRate, nonfinite);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ(verdict.damagedSteps(ch), c.damaged[ch]) << "channel " << ch + 1;
    ASSERT_EQ(verdict.jumps.size(), c.jumps.size());
    for (std::size_t k = 0; k < c.jumps.size(); ++k)
        EXPECT_NEAR(verdict.jumps[k].frames, c.jumps[k], 0.01) << k;
}

INSTANTIATE_TEST_SUITE_P(Recordings, Judgement, testing::ValuesIn(judgementCases),
                         [](const testing::TestParamInfo<JudgementCase>& info) { return info.param.name; });

// A jump's two times bracket the frames lost: from the end of the last
// burst before it to the start of the first after it.
TEST(Judgement, AJumpLiesBetweenTheBurstsAroundIt)
{
    FoundBursts bursts(sweep);
    bursts.moved = [](std::int64_t k) { return k >= 143 ? -16.0 : 0.0; };
    BurstLocator locator;
    const TimingSolution timing = bursts.solve(locator);
    const std::vector<std::int64_t> nonfinite[2];
    const StepVerdict verdict = judgeSteps(locator, timing, 44100, nonfinite);
    ASSERT_EQ(verdict.jumps.size(), 1u);
    const ClockJump& jump = verdict.jumps[0];
    EXPECT_EQ(jump.step, 143);
    EXPECT_NEAR(jump.inputFrame, bursts.burstStart(1, 143), 0.01);
    EXPECT_NEAR(jump.fromFrame, bursts.burstStart(1, 142) + sweep.steps[142].duration, 0.01);
}

} // namespace
