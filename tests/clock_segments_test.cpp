// The clock's segmentation fed with arrivals directly: where a recording
// jumped, where a burst is only damaged, and where nothing happened.
#include "locator/clock_segments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double interval = 22050;
constexpr double loopbackTolerance = 0.25;

// A sweep's frequency at burst `b`, and how an input coupling moves its
// burst (in proportion to 1 / f^2).
double sweepFrequency(std::int64_t b)
{
    return 100 * std::pow(100.0, double(b) / 200);
}

double couplingOf(std::int64_t b)
{
    return 1 / (sweepFrequency(b) * sweepFrequency(b));
}

// Frames a clock `ppm` faster from burst `from` on puts burst `b` later.
double clockChange(std::int64_t b, std::int64_t from, double ppm)
{
    return b > from ? ppm * 1e-6 * double(b - from) * interval : 0.0;
}

struct SegmentCase {
    const char* name;
    // Input frames gained (positive) or lost by burst `b` since the start.
    std::function<double(std::int64_t)> moved;
    std::size_t segments;
    std::vector<std::int64_t> outliers;
    // The first bursts of the segments after the first, where they are told.
    std::vector<std::int64_t> cuts = {};
    // Whether each point lies on its segment's line (the rough line through
    // its latest points: an input coupling's lead is taken out later).
    bool onLines = true;
    // Bursts per step: a step's bursts share a frequency.
    std::int64_t repeats = 1;
};

void PrintTo(const SegmentCase& c, std::ostream* out)
{
    *out << c.name;
}

const SegmentCase cases[] = {
    {"Clean", [](std::int64_t) { return 0.0; }, 1, {}},
    {"OneFrameLostOnce", [](std::int64_t b) { return b >= 100 ? -1.0 : 0.0; }, 2, {}},
    {"OneFrameLostEverySecondStep", [](std::int64_t b) { return b >= 6 ? -double((b - 4) / 2) : 0.0; }, 98, {}},
    {"SixteenFramesLostEveryFourthStep", [](std::int64_t b) { return b >= 6 ? -16.0 * double((b - 2) / 4) : 0.0; },
     50, {}},
    {"LastBurstOneFrameLate", [](std::int64_t b) { return b == 199 ? 1.0 : 0.0; }, 2, {}},
    // A burst off by a fraction of a frame, or off and back, is damaged
    // rather than where the recording jumped.
    {"HalfAPeriodOffOnce", [](std::int64_t b) { return b == 80 ? 2.2 : 0.0; }, 1, {80}},
    {"WholeFramesOffOnce", [](std::int64_t b) { return b == 80 ? -3.0 : 0.0; }, 1, {80}},
    // A clock that changes by a few ppm bends the line: cut at the bend.
    {"ClockTwoPpmFasterFromBurst100", [](std::int64_t b) { return clockChange(b, 100, 2); }, 2, {}, {100}},
    {"ClockFivePpmSlowerFromBurst60", [](std::int64_t b) { return clockChange(b, 60, -5); }, 2, {}, {60}},
    {"ClockChangesTwice", [](std::int64_t b) { return clockChange(b, 50, 3) + clockChange(b, 150, -6); }, 3, {},
     {50, 150}},
    // A sweep's first steps differ most in 1 / f^2: a coupling's term fitted
    // to the first step's two bursts and the next step's two could take up
    // a jump between them.
    {"HundredFramesInsertedAfterTheFirstStepOfTwoBursts", [](std::int64_t b) { return b >= 2 ? 100.0 : 0.0; }, 2,
     {}, {2}, true, 2},
    // Nor is a 3 Hz input coupling's lead on a sweep's first steps (about
    // 2 frames at 100 Hz) a change of clock.
    {"InputCouplingOnASweep", [](std::int64_t b) { return -2.0e4 * couplingOf(b); }, 1, {}, {}, false},
};

class Segmentation : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(Segmentation, CutsWhereTheRecordingJumpedOnly)
{
    const SegmentCase& c = GetParam();
    std::vector<ClockPoint> points;
    const double ratio = 1 + 20e-6;
    for (std::int64_t b = 0; b < 200; ++b) {
        const double played = double(b) * interval;
        points.push_back(ClockPoint{b, played, 1500.3 + ratio * played + c.moved(b), 0.001, couplingOf(b / c.repeats)});
    }
    SegmentedClock clock = segmentClock(points, loopbackTolerance, 1, true);
    std::string starts;
    for (const ClockSegment& segment : clock.segments)
        starts += " " + std::to_string(segment.firstBurst);
    EXPECT_EQ(clock.segments.size(), c.segments) << "segments start at" << starts;
    EXPECT_EQ(clock.outliers, c.outliers);
    if (!c.cuts.empty()) {
        std::vector<std::int64_t> cuts;
        for (std::size_t k = 1; k < clock.segments.size(); ++k)
            cuts.push_back(clock.segments[k].firstBurst);
        ASSERT_EQ(cuts.size(), c.cuts.size());
        for (std::size_t k = 0; k < cuts.size(); ++k)
            EXPECT_NEAR(double(cuts[k]), double(c.cuts[k]), 1.0);
    }
    // Every point not left out lies on its segment's line.
    for (const ClockSegment& segment : clock.segments) {
        if (!c.onLines)
            break;
        for (std::int64_t b = segment.firstBurst; b <= segment.lastBurst; ++b) {
            const ClockPoint& point = points[static_cast<std::size_t>(b)];
            if (std::find(c.outliers.begin(), c.outliers.end(), b) == c.outliers.end()) {
                EXPECT_NEAR(segment.at(point.played), point.time, loopbackTolerance) << "burst " << b;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Arrivals, Segmentation, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<SegmentCase>& info) { return info.param.name; });

} // namespace
