// The clock's segmentation fed with arrivals directly: where a recording
// jumped, where a burst is only damaged, and where nothing happened.
#include "clock_segments.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr double interval = 22050;
constexpr double loopbackTolerance = 0.25;

struct SegmentCase {
    const char* name;
    // Input frames gained (positive) or lost by burst `b` since the start.
    std::function<double(std::int64_t)> moved;
    std::size_t segments;
    std::vector<std::int64_t> outliers;
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
};

class Segmentation : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(Segmentation, CutsWhereTheRecordingJumpedOnly)
{
    const SegmentCase& c = GetParam();
    std::vector<ClockPoint> points;
    const double ratio = 1 + 20e-6;
    for (std::int64_t b = 0; b < 200; ++b) {
        const double played = double(b) * interval;
        points.push_back(ClockPoint{b, played, 1500.3 + ratio * played + c.moved(b), 0.001});
    }
    SegmentedClock clock = segmentClock(points, loopbackTolerance, 1, true);
    EXPECT_EQ(clock.segments.size(), c.segments);
    EXPECT_EQ(clock.outliers, c.outliers);
    // Every point not left out lies on its segment's line.
    for (const ClockSegment& segment : clock.segments) {
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
