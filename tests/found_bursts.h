#pragma once

#include "common/units.h"
#include "locator/burst_locator.h"
#include "locator/step_table.h"
#include "locator/timing_solution.h"

#include <cstdint>
#include <functional>
#include <set>

/// What the locator would report of a recording whose course is known: every
/// burst of the run on each channel where a recorder at `inputRate` Hz, on a
/// clock `ppm` fast, with `latency` frames before the file's first frame,
/// puts it, each channel `lag` frames later still, moved by `moved(burst)`
/// input frames (frames lost before it: negative). Each burst carries the
/// figures a match leaves: a loopback's (a score of 0.99999, a tone that
/// explains all but 3e-8) or a device's. No samples are made: the timing,
/// the judgement and the schedule's check are fed these hits directly.
struct FoundBursts {
    StepTable table;
    double inputRate = sampleRate;
    double ppm = 0;
    double latency = 1500.25;
    double lag[2] = {3.5, 0};
    double gain[2] = {0.5, 1};
    double score[2] = {0.995, 0.99999};
    /// What the generator's tones leave unexplained in each burst.
    double tone[2] = {1e-4, 3e-8};
    /// The lead-in's power per frame, 16-bit units squared.
    double noise = 1;
    std::function<double(std::int64_t burst)> moved = [](std::int64_t) { return 0.0; };
    /// Bursts not found, per channel.
    std::set<std::int64_t> missing[2];
    /// Bursts whose tone leaves this much more, per channel (a click, a dropout).
    std::set<std::int64_t> struck[2];

    /// Changes a hit of channel `c` after its figures are set.
    std::function<void(int c, BurstHit& hit)> touch = [](int, BurstHit&) {};

    explicit FoundBursts(const StepTable& steps) : table(steps) {}

    /// Where burst `burst` of channel `c` starts, input frames.
    double burstStart(int c, std::int64_t burst) const;

    /// The locator as it stands after such a recording: started on the run,
    /// each channel's bursts found.
    void fill(BurstLocator& locator) const;

    /// Fills `locator` and solves the timing from it.
    TimingSolution solve(BurstLocator& locator, ReferenceChoice choice = ReferenceChoice::automatic) const;
};

/// The default sweep from 100 Hz: ravgen's run with delay 22050 and numAvg 1.
const StepTable& sweepFrom100Hz();
