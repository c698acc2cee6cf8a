#include "recording/recording_findings.h"

#include "common/exit_codes.h"
#include "common/report_format.h"
#include "common/units.h"
#include "locator/finding_words.h"
#include "locator/schedule_check.h"

#include <cmath>

namespace {

// More damaged steps than this share of a channel's refuse the recording.
constexpr double damagedShare = 0.05;
constexpr double clockLimitPpm = 1000;
// A clock this uncertain in a step's phase is worth a warning.
constexpr double phaseWarning = 0.05;

// Runs of consecutive steps, [first, last] 0-based.
std::vector<std::pair<std::int64_t, std::int64_t>> runsOf(const std::vector<std::int64_t>& steps)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> runs;
    for (std::int64_t step : steps) {
        if (!runs.empty() && runs.back().second + 1 == step)
            runs.back().second = step;
        else
            runs.emplace_back(step, step);
    }
    return runs;
}

std::string runText(const std::pair<std::int64_t, std::int64_t>& run)
{
    std::string text = std::to_string(run.first + 1);
    if (run.second != run.first)
        text += "-" + std::to_string(run.second + 1);
    return text;
}

// The options of every program that reads a recording (RecordingOptions),
// where a finding's sentence names one.
const FindingVoice readerVoice{"give --reference none to say so, or ", " or give --reference", ""};

std::string hertz(double value)
{
    return fixedText(value, value < 100 ? 1 : 0) + " Hz";
}

} // namespace

std::string stepList(const std::vector<std::int64_t>& steps)
{
    if (steps.empty())
        return "none";
    std::string text;
    for (const auto& run : runsOf(steps))
        text += (text.empty() ? "" : ",") + runText(run);
    return text;
}

// How far, in frames, a loopback's burst may lie off its line for the
// timing to count as proven.
constexpr double provenFrames = 0.1;
// Without a loopback: how far a burst the device's tones explain may lie
// off the course of its neighbours. Its own phase leaves a few
// thousandths of a frame; a frame lost or inserted, half a frame or more.
constexpr double courseFrames = 0.25;

Refusal recordingRefusal(const BurstLocator& locator, const TimingSolution& timing, const StepVerdict& verdict,
                         double inputRate, double inputFrames)
{
    const StepTable& table = locator.table;
    std::optional<Finding> mismatch = scheduleFinding(locator, timing, inputFrames, inputRate);
    if (std::optional<Finding> speed = speedFinding(locator, inputRate))
        return {exitMismatch, findingText(*speed, table, readerVoice)};
    if (!timing.anyFound()) {
        if (mismatch)
            return {exitMismatch, findingText(*mismatch, table, readerVoice)};
        return {exitNotFound, "No tone burst found in either channel: the recording holds no burst of the run's "
                              "shape after a quiet lead-in. Check the wiring, the level and the arguments, and "
                              "start recording before playback."};
    }
    if (std::fabs(timing.ppm) > clockLimitPpm)
        return {exitMismatch, "The recorder's clock differs from the player's by " + fixedText(timing.ppm, 0)
                                  + " ppm (a ratio of " + fixedText(timing.ratio / locator.nominalRatio, 4)
                                  + "), more than 1000: the sample rate looks wrong (the file says "
                                  + fixedText(inputRate, 0) + " Hz)."};
    if (mismatch)
        return {exitMismatch, findingText(*mismatch, table, readerVoice)};
    // A channel with no burst at all would be written as whatever it holds,
    // under the other channel's timing: a number that nothing explains.
    for (int c = 0; c < BurstLocator::channelCount; ++c)
        if (!timing.channels[c].found)
            return {exitNotFound, "Channel " + std::to_string(c + 1) + " holds no bursts above its noise, at any "
                                      "step, while channel " + std::to_string(2 - c) + " holds them: check its "
                                      "wiring and level, or read one input with --channels "
                                      + std::to_string(2 - c) + "," + std::to_string(2 - c) + "."};
    // The proof: every step read lies on the line that places it. A
    // loopback's bursts lie within a few hundredths of a frame of it.
    // Without a loopback the device's own phase moves its bursts from step
    // to step, smoothly; frames lost or inserted move them at once. A jump
    // the lines did not cut shows as a burst off the course its neighbours
    // set by half the frames or more.
    if (timing.reference < 0 && timing.clockChannel >= 0) {
        auto refusal = [&](const std::string& what) {
            return Refusal{exitMismatch, "Refused: without a loopback, channel "
                                             + std::to_string(timing.clockChannel + 1) + "'s bursts " + what
                                             + ". Record again, with the player's output also on the other input."};
        };
        const std::int64_t cut = unexplainedCut(locator, timing);
        if (cut >= 0)
            return refusal("change their place at step " + std::to_string(cut / table.numAvg + 1)
                           + ", where the generator's burst explains them poorly (a filter's onset, or the "
                             "device's own phase, moves them): frames lost there cannot be told from the device");
        const CourseDeparture off = courseDeparture(locator, timing, verdict.damaged[timing.clockChannel]);
        if (off.frames > courseFrames)
            return refusal("near step " + std::to_string(off.burst / table.numAvg + 1) + " lie "
                           + fixedText(off.frames, 2) + " frames off the course the steps around them set, more than "
                           + fixedText(courseFrames, 2) + ": the recording lost or inserted a few frames there, which "
                             "only a loopback places");
    }
    if (timing.reference >= 0) {
        const double residual = provenResidual(locator, timing, verdict.damaged[timing.reference]);
        if (residual > provenFrames)
            return {exitMismatch, "Refused: the loopback's bursts lie up to " + fixedText(residual, 2)
                                      + " frames off the clock's lines where no step is marked damaged, more than "
                                      + fixedText(provenFrames, 1) + ": the recording lost or inserted frames "
                                        "too often to place them (a recorder that slips frames does this). Record "
                                        "again."};
    }
    for (int c = 0; c < BurstLocator::channelCount; ++c) {
        std::vector<std::int64_t> damaged = verdict.damagedSteps(c);
        if (double(damaged.size()) <= damagedShare * double(table.steps.size()))
            continue;
        std::vector<std::int64_t> above;
        for (std::int64_t step : damaged)
            if (table.steps[static_cast<std::size_t>(step)].actFreq > highestCarried(inputRate))
                above.push_back(step);
        std::string where = "channel " + std::to_string(c + 1) + ": " + std::to_string(damaged.size()) + " of "
            + std::to_string(table.steps.size()) + " steps damaged (" + stepList(damaged) + "), more than 5 %";
        // Most of them off the loopback's clock: the recorder slips.
        std::size_t offClock = 0;
        for (std::int64_t step : damaged)
            offClock += timing.reference >= 0 && timing.isOffLine(step * table.numAvg);
        if (2 * offClock >= damaged.size() && offClock > 0)
            return {exitMismatch, "Refused: " + where + ": the loopback's bursts of " + std::to_string(offClock)
                                      + " of them lie off the clock's lines, over "
                                      + fixedText(table.playedLength() / sampleRate, 0)
                                      + " s: the recording lost or inserted frames too often to place them (a "
                                        "recorder that slips frames does this). Record again."};
        if (!above.empty())
            return {exitMismatch, "Refused: " + where + ": a recording at " + fixedText(inputRate, 0)
                                      + " Hz carries steps up to " + hertz(highestCarried(inputRate))
                                      + " only; record at " + fixedText(std::ceil(table.steps.back().actFreq
                                                                                   / carriedShare / 1000) * 1000, 0)
                                      + " Hz or more."};
        return {exitMismatch, "Refused: " + where
                                  + ": bursts missing, damaged or off the recording's clock there. Record again "
                                    "(a recorder that loses frames, a loose cable or a noisy room does this)."};
    }
    return {};
}

std::vector<std::string> recordingWarnings(const BurstLocator& locator, const TimingSolution& timing,
                                           const StepVerdict& verdict, bool noReference,
                                           const std::string& damagedConsequence)
{
    std::vector<std::string> warnings;
    for (const Finding& finding : recordingFindings(locator, timing, noReference))
        warnings.push_back(findingText(finding, locator.table, readerVoice));
    double phase = timing.phaseSpread(locator.table);
    if (timing.reference < 0 && !timing.clockFromRepeats && phase > phaseWarning)
        warnings.push_back("Warning: without a loopback and with numAvg 1 the clock is known to "
                           + fixedText(timing.clockSpread / timing.ratio * 1e6, 3) + " ppm, which can move a step's "
                           "phase by " + fixedText(phase, 2) + " rad; generate with numAvg 2, or wire a loopback.");
    const StepTable& table = locator.table;
    for (int c = 0; c < BurstLocator::channelCount; ++c)
        for (const auto& run : runsOf(verdict.damagedSteps(c))) {
            const StepInfo& low = table.steps[static_cast<std::size_t>(run.first)];
            const StepInfo& high = table.steps[static_cast<std::size_t>(run.second)];
            std::string steps = run.first == run.second ? "step " : "steps ";
            std::string band = run.first == run.second ? hertz(low.nomFreq)
                                                       : hertz(low.nomFreq) + " to " + hertz(high.nomFreq);
            warnings.push_back("Warning: channel " + std::to_string(c + 1) + ", " + steps + runText(run) + " ("
                               + band + "): the recording is damaged there; " + damagedConsequence + ".");
        }
    return warnings;
}

std::vector<std::string> outputWarnings(const TimingSolution& timing, const AlignedOutput& output)
{
    std::vector<std::string> warnings;
    for (int c = 0; c < 2; ++c) {
        if (output.clipped[c] > 0)
            warnings.push_back("Warning: " + std::to_string(output.clipped[c]) + " samples of channel "
                               + std::to_string(c + 1) + " clipped in the aligned file.");
        if (timing.channels[c].found && output.nonzero[c] == 0)
            warnings.push_back("Warning: channel " + std::to_string(c + 1)
                               + " of the aligned file is all zeros: its bursts are below the 16-bit file's "
                                 "smallest step. Raise the recording level.");
    }
    return warnings;
}
