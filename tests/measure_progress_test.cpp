#include "measure/level_meter.h"
#include "measure/progress.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(MeasureProgress, StepsFollowTheSchedulesFrames)
{
    BurstSchedule schedule;  // delay 22050, interval 22050, 201 steps
    schedule.numAvg = 2;
    const struct {
        std::int64_t frame;
        std::int32_t step;
    } cases[] = {
        {0, 0}, {22049, 0}, {22050, 1}, {22050 + 2 * 22050 - 1, 1}, {22050 + 2 * 22050, 2},
        {22050 + 201 * 2 * 22050 - 1, 201}, {22050 + 201 * 2 * 22050, 202},
    };
    for (const auto& c : cases)
        EXPECT_EQ(stepAt(schedule, c.frame), c.step) << c.frame;
}

TEST(MeasureProgress, LineShowsTimeStepAndLevels)
{
    LevelMeter quiet, loud;
    const float half[] = {0.5f, -0.25f};
    const float rails[] = {-1.0f, 32767.0f / 32768.0f, 32766.0f / 32768.0f};
    quiet.take(half, 2);
    loud.take(rails, 3);
    EXPECT_EQ(loud.clipped, 2);
    EXPECT_EQ(progressText(12.34, 101.5, 25, 201, quiet, LevelMeter()),
              "  12.3 s of 101.5 s   step 25 of 201   in 1: -6.0 dBFS   in 2: -inf dBFS");
    EXPECT_EQ(progressText(0, 1, 0, 201, quiet, loud),
              "   0.0 s of 1.0 s   lead-in   in 1: -6.0 dBFS   in 2: 0.0 dBFS CLIPPED");
    EXPECT_EQ(progressText(0, 1, 3, 0, quiet, quiet), "   0.0 s of 1.0 s   in 1: -6.0 dBFS   in 2: -6.0 dBFS");
    EXPECT_EQ(dbfsText(quiet.dbfs(), 2), "-6.02");
}

TEST(MeasureProgress, APipeGetsALineEveryTenSeconds)
{
    std::ostringstream out;
    ProgressReport pipe{&out, false};
    int shown = 0;
    for (double now = 0; now < 25; now += 0.5)
        if (pipe.due(now)) {
            pipe.show(now, "x");
            ++shown;
        }
    EXPECT_EQ(shown, 3);
    EXPECT_EQ(out.str(), "x\nx\nx\n");
    ProgressReport terminal{&out, true};
    terminal.show(0, "y");
    EXPECT_FALSE(terminal.due(0.1));
    EXPECT_TRUE(terminal.due(0.2));
}
