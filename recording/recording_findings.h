#pragma once

#include "locator/burst_locator.h"
#include "locator/step_judgement.h"
#include "locator/timing_solution.h"
#include "recording/aligned_writer.h"

#include <cstdint>
#include <string>
#include <vector>

/// Why a recording is not read, in the words of the program reading it.
struct Refusal {
    int code = 0;  ///< an ExitCode; exitOk when nothing is refused
    std::string text;
};

/// Steps as the reports number them, from 1, runs joined: "101-104,150";
/// "none" for no step.
std::string stepList(const std::vector<std::int64_t>& steps);

/// The first reason, in this order, to refuse the recording: no burst at
/// all, a clock so far off that the sample rate must be wrong, bursts that
/// do not follow the arguments' schedule, more than 5 % of the steps of a
/// channel damaged.
Refusal recordingRefusal(const BurstLocator& locator, const TimingSolution& timing, const StepVerdict& verdict,
                         double inputRate, double inputFrames);

/// What to tell the user about a recording that is used: the recording's
/// own warnings, then one line per stretch of damaged steps, each ending
/// with what was done with them (`damagedConsequence`).
std::vector<std::string> recordingWarnings(const BurstLocator& locator, const TimingSolution& timing,
                                           const StepVerdict& verdict, bool noReference,
                                           const std::string& damagedConsequence);

/// What to tell the user about the file written: clipped samples, and a
/// channel whose bursts rounded to nothing.
std::vector<std::string> outputWarnings(const TimingSolution& timing, const AlignedOutput& output);
