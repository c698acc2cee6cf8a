#include "common/burst_schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

std::string rowOf(const BurstSchedule& schedule)
{
    std::ostringstream row;
    schedule.printRow(row);
    return row.str();
}

BurstSchedule polarAt(double frequency)
{
    BurstSchedule schedule;
    schedule.setMode(BurstSchedule::polarMode);
    schedule.startFreq = frequency;
    return schedule;
}

} // namespace

TEST(BurstSchedule, NewScheduleDescribesOneCycleAt100Hz)
{
    BurstSchedule schedule;
    EXPECT_EQ(schedule.numCyc, 1);
    EXPECT_EQ(schedule.duration, 441);
    EXPECT_EQ(schedule.actFreq, 100.0);
    EXPECT_EQ(schedule.omega, (100.0 * fullTurn) / 44100);
}

struct WorkedBurst {
    double nomFreq;
    int numCyc;
    int duration;
    double actFreq;
};

void PrintTo(const WorkedBurst& c, std::ostream* out)
{
    *out << c.nomFreq << " Hz";
}

class BurstAt : public ::testing::TestWithParam<WorkedBurst> {};

TEST_P(BurstAt, HasTheWorkedCyclesDurationAndFrequency)
{
    const WorkedBurst& c = GetParam();
    BurstSchedule schedule;
    schedule.numCyc = 1;
    schedule.nomFreq = c.nomFreq;
    schedule.computeBurst();
    EXPECT_EQ(schedule.numCyc, c.numCyc);
    EXPECT_EQ(schedule.duration, c.duration);
    EXPECT_EQ(schedule.actFreq, c.actFreq);
}

INSTANTIATE_TEST_SUITE_P(Values, BurstAt,
                         ::testing::Values(WorkedBurst{100.0, 1, 441, 100.0},
                                           WorkedBurst{1000.0, 3, 132, 3.0 * 44100 / 132},
                                           WorkedBurst{10000.0, 23, 101, 23.0 * 44100 / 101}));

TEST(BurstSchedule, DefaultSweepHas201StepsFrom100To10000Hz)
{
    BurstSchedule schedule;
    schedule.begin();
    EXPECT_EQ(rowOf(schedule), "1\t441\t100\t100");
    int steps = 0;
    double last = 0.0;
    for (; schedule.hasMore(); schedule.next()) {
        ++steps;
        last = schedule.nomFreq;
        EXPECT_GE(schedule.duration, 100);
        EXPECT_GE(schedule.actFreq, schedule.nomFreq);
        EXPECT_NEAR(schedule.actFreq * schedule.duration / 44100, schedule.numCyc, 1e-9);
    }
    EXPECT_EQ(steps, 201);
    EXPECT_NEAR(last, 10000.0, 1e-6);
}

TEST(BurstSchedule, FallingSweepKeepsCycleCountOfFirstStep)
{
    BurstSchedule schedule;
    schedule.startFreq = 20000.0;
    schedule.begin();
    EXPECT_EQ(rowOf(schedule), "46\t101\t20000\t20085.1");
    std::string lastRow;
    for (; schedule.hasMore(); schedule.next()) {
        EXPECT_EQ(schedule.numCyc, 46);
        lastRow = rowOf(schedule);
    }
    EXPECT_EQ(lastRow, "46\t202\t10000\t10042.6");
}

TEST(BurstSchedule, PolarRunRepeatsItsFrequency72Times)
{
    BurstSchedule schedule = polarAt(1000.0);
    EXPECT_EQ(schedule.interval, 44100);
    schedule.begin();
    int steps = 0;
    for (; schedule.hasMore(); schedule.next()) {
        ++steps;
        EXPECT_EQ(schedule.numCyc, 3);
        EXPECT_EQ(schedule.duration, 132);
        EXPECT_EQ(schedule.nomFreq, 1000.0);
    }
    EXPECT_EQ(steps, 72);
}

TEST(BurstSchedule, SettingsShowConstructedEndFrequency)
{
    BurstSchedule schedule = polarAt(2000.0);
    std::ostringstream settings;
    schedule.printSettings(settings);
    EXPECT_EQ(settings.str(),
              "      mode:\tpolar plot\nstart freq:\t2000\n  end freq:\t1000\n num steps:\t72\n"
              " averaging:\t1\n     delay:\t22050\n  interval:\t44100\n");
}

TEST(BurstSchedule, PolarAboveSampleRateClimbsToMinimumDuration)
{
    BurstSchedule schedule = polarAt(88200.0);
    schedule.begin();
    EXPECT_EQ(schedule.numCyc, 200);
    EXPECT_EQ(schedule.duration, 100);
}

TEST(BurstSchedule, NextOnExhaustedScheduleChangesNothing)
{
    BurstSchedule schedule;
    schedule.begin();
    while (schedule.hasMore())
        schedule.next();
    BurstSchedule before = schedule;
    EXPECT_FALSE(schedule.next());
    EXPECT_EQ(schedule.nomFreq, before.nomFreq);
    EXPECT_EQ(schedule.numCyc, before.numCyc);
    EXPECT_EQ(schedule.remaining, 0);
}

TEST(BurstSchedule, DataBytesWrapAt32Bits)
{
    BurstSchedule schedule;
    EXPECT_EQ(schedule.dataBytes(), 17816400);
    schedule.numAvg = 122;  // the first sweep whose count reads negative
    EXPECT_LT(schedule.dataBytes(), 0);
    EXPECT_EQ(static_cast<std::uint32_t>(schedule.dataBytes()), (22050u + 122u * 201u * 22050u) * 4u);
}

TEST(BurstSchedule, CycleSearchMatchesCountingOneByOne)
{
    // Log-uniform frequencies from 1 Hz to 10 MHz, and from any count that
    // a falling sweep may carry over.
    std::uint32_t state = 12345;
    for (int trial = 0; trial < 20000; ++trial) {
        state = state * 1664525u + 1013904223u;
        double frequency = std::pow(10.0, 7.0 * (state >> 8) / 16777216.0);
        double spc = 44100 / frequency;
        double from = 1 + (state & 7);
        double counted = from;
        while (counted * spc < 100)
            counted += 1;
        ASSERT_EQ(cyclesReaching(from, spc, 100), counted) << frequency << " from " << from;
    }
}

TEST(BurstSchedule, HugeStartFrequencyIsComputedAtOnceAndFlaggedWhenBeyond32Bits)
{
    BurstSchedule schedule;
    schedule.startFreq = 1e11;
    schedule.begin();
    EXPECT_TRUE(schedule.burstFits);
    EXPECT_NEAR(schedule.numCyc, 2.2676e8, 1e4);
    schedule.startFreq = 1e13;
    schedule.begin();
    EXPECT_FALSE(schedule.burstFits);
    schedule.startFreq = 1e-5;
    schedule.begin();
    EXPECT_FALSE(schedule.burstFits);
}
