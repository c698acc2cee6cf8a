#pragma once

#include "audio/sound_file.h"
#include "locator/burst_locator.h"
#include "locator/step_judgement.h"
#include "locator/timing_solution.h"
#include "recording/aligned_writer.h"
#include "recording/recording_options.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

/// The program that reads a recording, as its words name it.
struct ReadingProgram {
    const char* name;                ///< the program's own name
    const char* damagedConsequence;  ///< what it does with a damaged step, ending that warning
};

/// A recording opened, its bursts found, its clock worked out and every
/// step judged: where every program that reads a recording onto the
/// generator's frames begins. `program` speaks in what it writes.
struct TimedRecording {
    explicit TimedRecording(const ReadingProgram& reader) : program(reader) {}

    ReadingProgram program;
    SoundFile file;
    std::unique_ptr<BurstLocator> locator = std::make_unique<BurstLocator>();
    std::vector<std::int64_t> nonfinite[BurstLocator::channelCount];  ///< input frames that are not numbers
    TimingSolution timing;
    StepVerdict verdict;

    /// Opens the recording and settles the channels: a mono file is read
    /// as channel 1 twice, without a reference unless one is given.
    /// exitOk, or the code of a refusal already written to `errors`.
    int open(RecordingOptions& options, const char* synopsis, std::ostream& errors);

    /// Writes the run header, the settings and the "input:" line.
    void printHeader(const RecordingOptions& options, int argc, const char* const* argv,
                     std::ostream& report) const;

    /// Finds the bursts, solves the clock (again without loopback bursts
    /// that turn out damaged) and judges every step. exitOk, or the code of
    /// a refusal already written to `errors`.
    int solve(const RecordingOptions& options, std::ostream& errors);

    /// Refuses the recording, as `solve` does, when more of a channel's
    /// steps are now damaged than it allows. exitOk, or the code of a
    /// refusal already written to `errors`.
    int refuseDamage(std::ostream& errors) const;

    /// Opens, writes the header, finds and judges: open, printHeader and
    /// solve in turn. exitOk, or the code of a refusal already written.
    int start(RecordingOptions& options, const char* synopsis, int argc, const char* const* argv,
              std::ostream& report, std::ostream& errors);

    /// Writes what was found: channels, reference, clock, time of flight,
    /// residual, segments, jumps and damaged steps.
    void printFacts(std::ostream& report) const;

    /// What to tell the user about the recording used: its own warnings,
    /// then one line per stretch of damaged steps (recordingWarnings).
    std::vector<std::string> warnings(const RecordingOptions& options) const;

    /// How the recording maps onto the generator's frames, one stretch per
    /// segment of the clock, for a file of the schedule's length.
    /// `lagOf[c]` is the channel whose arrival channel c is placed by (a
    /// channel without bursts follows the other). Without a need to
    /// resample (needsResampling), the recording's own frames are kept.
    std::vector<OutputStretch> stretches(const int (&lagOf)[2]) const;

    /// Whether the recording must be converted: another rate, or a clock
    /// off by 0.02 ppm or more on any stretch.
    bool needsResampling() const;
};
