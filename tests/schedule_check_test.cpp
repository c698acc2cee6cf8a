// The check of the schedule fed with the bursts a locator would report and
// the timing solved from them (no samples, no file): a recording that
// follows the arguments passes; one from another start frequency, one that
// started late and one that ends early are named as such.
#include "locator/schedule_check.h"
#include "tests/found_bursts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

namespace {

const StepTable& sweep = sweepFrom100Hz();

struct ScheduleCase {
    const char* name;
    std::function<void(FoundBursts&)> recording;
    std::function<double(const FoundBursts&)> inputFrames;
    std::optional<FindingKind> kind;
    std::int64_t step = -1;
    double frequency = 0;
};

void PrintTo(const ScheduleCase& c, std::ostream* out)
{
    *out << c.name;
}

double whole(const FoundBursts& bursts)
{
    return bursts.burstStart(0, sweep.bursts()) + 1000;
}

const ScheduleCase scheduleCases[] = {
    {"FollowsTheArguments", [](FoundBursts&) {}, whole, std::nullopt},
    // Burst k of a sweep from 150 Hz is 1.5^(1 - k / 200) times that of one
    // from 100 Hz.
    {"SweepFrom150Hz",
     [](FoundBursts& b) {
         b.touch = [](int, BurstHit& hit) { hit.heardFrequencyFactor = std::pow(1.5, 1 - double(hit.burst) / 200); };
     },
     whole, FindingKind::otherStart, -1, 150},
    {"EndsInStep151", [](FoundBursts&) {}, [](const FoundBursts& b) { return b.burstStart(0, 150) + 100; },
     FindingKind::endsEarly, 150},
    {"StartedInStep21",
     [](FoundBursts& b) {
         b.latency = -(22050.0 + 20 * 22050) + 300;
         for (auto& lost : b.missing)
             for (std::int64_t k = 0; k < 20; ++k)
                 lost.insert(k);
         b.touch = [](int, BurstHit& hit) { hit.heardFrequencyFactor = std::pow(100.0, 20.0 / 200); };
     },
     whole, FindingKind::startedLate, 20},
};

class ScheduleCheck : public testing::TestWithParam<ScheduleCase> {};

TEST_P(ScheduleCheck, NamesWhatTheRecordingFollows)
{
    const ScheduleCase& c = GetParam();
    FoundBursts bursts(sweep);
    c.recording(bursts);
    BurstLocator locator;
    const TimingSolution timing = bursts.solve(locator);
    const std::optional<Finding> finding = scheduleFinding(locator, timing, c.inputFrames(bursts), 44100);
    ASSERT_EQ(finding.has_value(), c.kind.has_value());
    if (!finding)
        return;
    EXPECT_EQ(int(finding->kind), int(*c.kind));
    if (c.step >= 0) {
        EXPECT_EQ(finding->step, c.step);
    }
    if (c.frequency > 0) {
        EXPECT_NEAR(finding->frequency, c.frequency, 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, ScheduleCheck, testing::ValuesIn(scheduleCases),
                         [](const testing::TestParamInfo<ScheduleCase>& info) { return info.param.name; });

} // namespace
