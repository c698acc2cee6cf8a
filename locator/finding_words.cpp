#include "locator/finding_words.h"

#include "common/report_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Three significant digits: "near 1000 Hz", "near 102 Hz".
std::string rounded(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3g", value);
    return fixedText(std::strtod(text, nullptr), 0);
}

std::string runOf(const StepTable& table)
{
    char text[realTextSize];
    formatReal(table.steps.empty() ? 0 : table.steps.front().nomFreq, text);
    return table.sweep ? std::string("a sweep from ") + text + " Hz" : std::string("a polar run at ") + text + " Hz";
}

std::string frames(double value)
{
    return fixedText(value, 0);
}

std::string channelName(const Finding& finding)
{
    return "channel " + std::to_string(finding.channel + 1);
}

// Why the recording does not follow the arguments' run.
std::string mismatchText(const Finding& f, const StepTable& table, const FindingVoice& voice)
{
    std::string run = runOf(table);
    std::string heard = fixedText(f.frequency, f.frequency < 10 ? 1 : 0);
    switch (f.kind) {
    case FindingKind::wrongSpeed:
        return "The bursts come every " + frames(f.spacing) + " frames and last " + frames(f.length)
            + ", where the arguments give " + frames(f.expectedSpacing) + " and " + frames(f.expectedLength)
            + ": the recording plays at " + fixedText(f.speed, 3) + " times its speed, "
            + (std::fabs(f.fileRate - f.madeAt) <= 0.01 * f.madeAt
                   ? "since it was made at " + frames(f.madeAt) + " Hz, as its header says."
                   : "so the sample rate looks wrong (the file says " + frames(f.fileRate) + " Hz; it was made at about "
                         + frames(f.madeAt) + " Hz).")
            + (voice.rateHint.empty() ? "" : " " + voice.rateHint);
    case FindingKind::firstBurstElsewhere:
        return "The first burst is near " + rounded(f.frequency) + " Hz, the arguments give " + run
            + ": give the start frequency and mode the file was generated with.";
    case FindingKind::repeatsDiffer:
        return "Bursts repeat every " + frames(f.spacing) + " frames, the arguments give " + frames(f.expectedSpacing)
            + ": was the file generated with numAvg " + std::to_string(f.repeats) + "?";
    case FindingKind::otherStart:
        return "The bursts follow a sweep from " + heard + " Hz, the arguments give " + run
            + ": give the start frequency the file was generated with.";
    case FindingKind::harmonicTaken: {
        std::string given = rounded(table.steps.front().nomFreq);
        return "The bursts carry " + heard + " Hz and its " + given + " Hz component; the arguments give " + given
            + " Hz: was the file generated at " + heard + " Hz?";
    }
    case FindingKind::otherFrequency:
        return "The bursts carry " + heard + " Hz, the arguments give " + run
            + ": give the frequency the file was generated with.";
    case FindingKind::polarSpacing:
        return "Bursts come every 44100 frames, the arguments give 22050: was the file generated as a polar run?";
    case FindingKind::notFollowing:
        return "The bursts do not follow " + run + " (the first is near " + rounded(f.frequency)
            + " Hz): give the arguments the file was generated with.";
    case FindingKind::allOneFrequency:
        return "The bursts all lie near " + rounded(f.frequency) + " Hz, the arguments give " + run
            + ": was the file generated as a polar run?";
    case FindingKind::risingFrequency:
        return "The bursts' frequency rises from near " + rounded(f.frequency) + " Hz, the arguments give " + run
            + ": was the file generated as a sweep?";
    case FindingKind::startedLate:
        return "The first burst found is near " + rounded(f.frequency) + " Hz, step " + std::to_string(f.step + 1)
            + "'s: the recording started after the first step; start recording before playback.";
    case FindingKind::firstStepsUnheard:
        return "The first burst found is near " + rounded(f.frequency) + " Hz, step " + std::to_string(f.step + 1)
            + "'s by its shape, though the recording holds " + fixedText(f.seconds, 1) + " s of quiet before it, "
            + "more than a step: no step was lost at the start, so the device bends the first bursts out of their "
              "shape or hides them in its noise on both channels; record a loopback on the other input.";
    case FindingKind::endsEarly:
        return "The recording ends in step " + std::to_string(f.step + 1) + " of " + std::to_string(f.steps) + ": "
            + fixedText(f.seconds, 1) + " s are missing; record for longer.";
    case FindingKind::lastBurstMissing:
        return "The loopback's last burst is missing though the recording goes on past it: the recording lost "
               "whole steps somewhere, and a polar run's steps, all alike, cannot say where; record again.";
    case FindingKind::burstAfterRun:
        return "A burst follows the run's last step an interval later: the recording holds more bursts than the "
               "run, as when playback was started again after its first bursts; record again, starting playback "
               "once.";
    default:
        return "";
    }
}

} // namespace

std::string findingText(const Finding& f, const StepTable& table, const FindingVoice& voice)
{
    switch (f.kind) {
    case FindingKind::clipped:
        return "Warning: " + channelName(f) + " reaches full scale from step " + std::to_string(f.step + 1) + " ("
            + rounded(f.frequency) + " Hz) on: lower the recording level by at least " + fixedText(f.decibels, 0)
            + " dB.";
    case FindingKind::weak:
        return "Warning: " + channelName(f) + "'s bursts are only " + fixedText(f.decibels, 1)
            + " dB above the lead-in's noise: raise the level or lower the noise.";
    case FindingKind::loopbackOnFirst:
        return "Warning: the loopback is on channel 1 and the device on channel 2; the usual wiring has the loopback "
               "on channel 2, and \"dB diff\" reads channel 1 against channel 2.";
    case FindingKind::noLoopback:
        return "Warning: no channel looks like a loopback; without one the clock comes from the device ("
            + voice.noLoopbackHint + "check the wiring).";
    case FindingKind::loopbackVaries:
        return "Warning: the loopback on " + channelName(f) + " varies by " + fixedText(f.decibels, 1)
            + " dB across the run, so it is not a loopback: check the wiring" + voice.loopbackHint + ".";
    case FindingKind::inverted:
        return "Note: " + channelName(f) + " is inverted against the loopback (polarity -1).";
    default:
        return mismatchText(f, table, voice);
    }
}
