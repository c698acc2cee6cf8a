#pragma once

#include "common/burst_schedule.h"

#include <cstdint>
#include <vector>

/// One step of a run as the generator plays it.
struct StepInfo {
    double nomFreq = 0;
    double actFreq = 0;
    double omega = 0;         ///< phase advance per played frame, radians
    std::int32_t duration = 0;  ///< burst length in played frames
};

/// Every burst of a run, in the order played: burst q is repetition
/// q % numAvg of step q / numAvg and begins q * interval played frames after
/// the first step's start.
struct StepTable {
    std::vector<StepInfo> steps;
    std::int32_t numAvg = 1;
    std::int32_t interval = 22050;
    std::int32_t delay = 22050;
    bool sweep = true;

    /// Walks a copy of `schedule` (settings as the command line left them).
    static StepTable from(BurstSchedule schedule);

    std::int64_t bursts() const { return std::int64_t(steps.size()) * (numAvg > 0 ? numAvg : 0); }
    const StepInfo& stepOf(std::int64_t burst) const { return steps[static_cast<std::size_t>(burst / numAvg)]; }
    /// Played frames from the first step's start to burst `burst`'s start.
    double playedOffset(std::int64_t burst) const { return double(burst) * interval; }
    /// Played frames from the file's first frame to the end of the last step.
    double playedLength() const { return double(delay) + double(bursts()) * interval; }
};
