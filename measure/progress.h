#pragma once

#include "common/burst_schedule.h"
#include "measure/level_meter.h"

#include <cstdint>
#include <iosfwd>
#include <string>

/// Which part of the schedule frame `frame` of the stimulus lies in: 0 for
/// the lead-in, 1 to numSteps for a step, numSteps + 1 after the last.
std::int32_t stepAt(const BurstSchedule& schedule, std::int64_t frame);

/// One progress line: time so far and in all, the step (when `steps` is
/// above 0) and each input's peak with a clipping flag.
std::string progressText(double elapsed, double total, std::int32_t step, std::int32_t steps,
                         const LevelMeter& first, const LevelMeter& second);

/// Where the progress lines go and how often: a terminal gets one line
/// that is rewritten five times a second, anything else a line every 10 s.
struct ProgressReport {
    std::ostream* out = nullptr;
    bool terminal = false;
    double lastShown = -1.0;  ///< seconds of the last line shown

    /// True when a line is due at `now` seconds.
    bool due(double now) const;

    /// Shows `text` as the line of `now`.
    void show(double now, const std::string& text);

    /// Ends the terminal's line.
    void finish();
};
