#pragma once

#include "locator/step_table.h"

#include <cstdint>
#include <functional>
#include <vector>

/// Gathers each step of the aligned recording, its repetitions averaged:
/// a step's span is one interval long and begins `lead` frames before its
/// burst, so it holds the burst, what follows it, and the silence before
/// the next step's span.
struct StepGatherer {
    /// Called once per step with its averaged span on each channel.
    using StepDone = std::function<void(std::size_t step, const std::vector<double> (&span)[2])>;

    const StepTable& table;
    std::int64_t lead;
    std::size_t needed;  ///< frames of a span that must be there for a step to count
    StepDone done;

    std::int64_t step = -1;        ///< the step being gathered
    std::int64_t repetition = -1;  ///< the last repetition seen
    int repetitions = 0;
    std::int64_t reached = 0;      ///< frames of the last repetition seen
    std::vector<double> sum[2];

    StepGatherer(const StepTable& steps, std::int64_t leadFrames, std::size_t neededFrames, StepDone onStep);

    /// Takes aligned frames in order (an AlignedSink).
    bool take(std::int64_t first, const double* pairs, std::int64_t count);
    /// Hands over the last step, when enough of it arrived.
    void finish();

private:
    void close();
};
