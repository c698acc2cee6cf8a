#include "prep.h"

#include "aligned_writer.h"
#include "burst_locator.h"
#include "command_line.h"
#include "exit_codes.h"
#include "prep_findings.h"
#include "prep_options.h"
#include "replacing_file.h"
#include "report_format.h"
#include "same_file.h"
#include "schedule_check.h"
#include "sound_file.h"
#include "step_judgement.h"
#include "step_table.h"
#include "timing_solution.h"
#include "wav_header.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t blockFrames = 8192;
// Nothing needs correcting when the clock is within this and every
// arrival within this of a whole frame.
constexpr double sameClockPpm = 0.02;
constexpr double wholeFrameTolerance = 0.05;
// Frames that are not numbers are remembered up to this many per channel;
// a recording with more is damaged all through anyway.
constexpr std::size_t nonfiniteKept = 1 << 16;

// Reads the chosen channels (0-based) of every frame into the locator;
// samples that are not finite numbers go in as 0 and are noted.
bool locate(SoundFile& file, int a, int b, BurstLocator& locator, std::vector<std::int64_t> (&nonfinite)[2])
{
    std::vector<double> block(static_cast<std::size_t>(blockFrames * file.channels));
    std::vector<double> pair(static_cast<std::size_t>(blockFrames * 2));
    const int inputs[2] = {a, b};
    std::int64_t at = 0;
    while (!locator.done()) {
        std::int64_t got = file.read(block.data(), blockFrames);
        if (got < 0)
            return false;
        for (std::int64_t i = 0; i < got; ++i)
            for (int c = 0; c < 2; ++c) {
                double sample = block[static_cast<std::size_t>(i * file.channels + inputs[c])];
                if (!std::isfinite(sample)) {
                    if (nonfinite[c].size() < nonfiniteKept)
                        nonfinite[c].push_back(at + i);
                    sample = 0;
                }
                pair[static_cast<std::size_t>(2 * i + c)] = sample;
            }
        locator.push(pair.data(), got);
        at += got;
        if (got < blockFrames)
            break;
    }
    locator.finish();
    return true;
}

// Opens the recording and settles the channels. exitOk, or the code of a
// refusal already written to `errors`.
int openRecording(PrepOptions& options, SoundFile& file, std::ostream& errors)
{
    if (!file.open(options.recording)) {
        errors << "Failed to open input file: " << options.recording << ": " << file.error << std::endl;
        return exitOpen;
    }
    if (file.rate < 8000 || file.rate > 384000 || file.channels < 1) {
        errors << "Failed to open input file: " << options.recording << ": a sample rate of " << file.rate
               << " Hz is outside 8000 to 384000 Hz." << std::endl;
        return exitOpen;
    }
    if (!file.seekable) {
        errors << "Failed to open input file: " << options.recording
               << ": it can be read only once (a pipe or FIFO); ravprep reads a recording twice, so save it to "
                  "a file first."
               << std::endl;
        return exitOpen;
    }
    if (file.channels == 1 && !options.channelsGiven)
        options.channelA = options.channelB = 1;
    if (options.channelA > file.channels || options.channelB > file.channels) {
        errors << "--channels " << options.channelA << "," << options.channelB << " refused: "
               << options.recording << " has " << file.channels << (file.channels == 1 ? " channel." : " channels.")
               << std::endl;
        writeUsage(errors, prepSynopsis);
        return exitUsage;
    }
    if (file.channels == 1 && !options.referenceGiven)
        options.reference = ReferenceChoice::none;
    return exitOk;
}

// How each stretch of the output is taken from the recording: each
// channel's first step lands on frame `delay`; a channel without bursts
// follows the other.
std::vector<OutputStretch> outputStretches(const TimingSolution& timing, const StepTable& table, bool resample,
                                           std::int64_t frames)
{
    std::vector<OutputStretch> stretches;
    for (std::size_t k = 0; k < timing.segments.size(); ++k) {
        const ClockSegment& segment = timing.segments[k];
        OutputStretch stretch;
        // A later stretch begins a little before its first burst, after
        // every window of the burst before it.
        stretch.firstFrame = k == 0 ? 0
            : std::min<std::int64_t>(frames, table.delay + static_cast<std::int64_t>(table.playedOffset(
                                                               segment.firstBurst)) - 32);
        stretch.ratio = resample ? segment.ratio : 1.0;
        for (int c = 0; c < 2; ++c) {
            int own = timing.channels[c].found ? c : 1 - c;
            double played = double(stretch.firstFrame - table.delay);
            double start = resample ? segment.at(played) + timing.lag[own]
                                    : segment.offset + timing.lag[own] + played;
            if (!resample && std::fabs(start - std::round(start)) < wholeFrameTolerance)
                start = std::round(start);
            stretch.start[c] = start;
        }
        if (!stretches.empty())
            stretches.back().endFrame = stretch.firstFrame;
        stretches.push_back(stretch);
    }
    stretches.back().endFrame = frames;
    // A stretch that the next one begins before (bursts one frame apart)
    // gives way to it.
    stretches.erase(std::remove_if(stretches.begin(), stretches.end(),
                                   [](const OutputStretch& s) { return s.endFrame <= s.firstFrame; }),
                    stretches.end());
    return stretches;
}

// Frames of the aligned file: enough for the schedule, as far as the
// recording reaches.
std::int64_t outputFrames(const std::vector<OutputStretch>& stretches, const StepTable& table,
                          std::int64_t inputFrames)
{
    const OutputStretch& last = stretches.back();
    std::int64_t reach = 0;
    for (double start : last.start)
        reach = std::max(reach, last.firstFrame
                                    + static_cast<std::int64_t>(std::floor((double(inputFrames) - 1 - start)
                                                                           / last.ratio)) + 1);
    return std::max<std::int64_t>(0, std::min<std::int64_t>(static_cast<std::int64_t>(table.playedLength()), reach));
}

int writeOutput(SoundFile& file, const PrepOptions& options, const TimingSolution& timing, const StepVerdict& verdict,
                AlignedOutput& output, std::ostream& errors)
{
    StepTable table = StepTable::from(options.schedule);
    bool resample = file.rate != 44100;
    for (const ClockSegment& segment : timing.segments)
        resample = resample || std::fabs((segment.ratio - 1) * 1e6) >= sameClockPpm;
    std::vector<OutputStretch> stretches = outputStretches(timing, table, resample,
                                                           static_cast<std::int64_t>(table.playedLength()));
    std::int64_t frames = outputFrames(stretches, table, file.frames);
    for (OutputStretch& stretch : stretches) {
        stretch.firstFrame = std::min(stretch.firstFrame, frames);
        stretch.endFrame = std::min(stretch.endFrame, frames);
    }
    ReplacingFile out;
    if (!out.open(options.aligned)) {
        errors << "Failed to open output file: " << options.aligned << std::endl;
        return exitOpen;
    }
    WavHeader::forData(static_cast<std::int32_t>(frames * 4)).write(out.out);
    const int inputs[2] = {options.channelA - 1, options.channelB - 1};
    std::string error;
    if (!writeAlignedFrames(file, inputs, stretches, table, verdict, out.out, output, error)) {
        errors << error << std::endl;
        return exitSteps;
    }
    if (!out.commit()) {
        errors << "Failed to write tone bursts to disk." << std::endl;
        return exitSteps;
    }
    return exitOk;
}

void printChannel(std::ostream& report, int number, const ChannelTiming& channel)
{
    report << "channel " << number << ":\t";
    if (!channel.found) {
        report << "none" << std::endl;
        return;
    }
    report << fixedText(channel.arrival, 1) << '\t' << (channel.polarity > 0 ? "+1" : "-1") << '\t'
           << fixedText(channel.levelAboveNoise, 1) << std::endl;
}

void printFacts(std::ostream& report, const TimingSolution& timing, const StepVerdict& verdict, double inputRate,
                const StepTable& table)
{
    printChannel(report, 1, timing.channels[0]);
    printChannel(report, 2, timing.channels[1]);
    report << "reference:\t" << (timing.reference < 0 ? std::string("none")
                                                       : "channel " + std::to_string(timing.reference + 1))
           << std::endl;
    report << "clock:\t" << fixedText(timing.ppm, 3) << " ppm" << std::endl;
    if (timing.reference >= 0 && timing.channels[1 - timing.reference].found) {
        double frames = timing.timeOfFlight;
        double ms = frames / 44.1;
        report << "time of flight:\t" << fixedText(frames, 2) << " frames\t" << fixedText(ms, 3) << " ms\t"
               << fixedText(ms * 343.0, 1) << " mm" << std::endl;
    } else {
        report << "time of flight:\tnone" << std::endl;
    }
    report << "residual:\t" << fixedText(timing.residual, 3) << " frames" << std::endl;
    if (timing.reference < 0 && !timing.clockFromRepeats) {
        report << "note:\twithout a loopback and with numAvg 1 the clock also holds the device's phase; "
                  "generate with numAvg 2 for a clock free of it"
               << std::endl;
        report << "uncertainty:\t" << fixedText(timing.clockSpread / timing.slope * 1e6, 3) << " ppm\t"
               << fixedText(timing.phaseSpread(table), 3) << " rad" << std::endl;
    }
    report << "segments:\t" << timing.segments.size() << std::endl;
    for (const ClockJump& jump : verdict.jumps)
        report << "jump:\t" << jump.step + 1 << '\t' << fixedText(jump.frames, 1) << '\t'
               << fixedText(jump.inputFrame / inputRate, 3) << std::endl;
    for (int c = 0; c < 2; ++c)
        report << "damaged " << c + 1 << ":\t" << stepList(verdict.damagedSteps(c)) << std::endl;
}

} // namespace

int runPrep(int argc, const char* const* argv, std::ostream& report, std::ostream& errors)
{
    int code = exitOk;
    if (helpHandled(argc, argv, prepSynopsis, report, code))
        return code;
    PrepOptions options;
    code = options.read(argc, argv, errors);
    if (code != exitOk)
        return code;
    if (sameFile(options.recording, options.aligned)) {
        errors << "Refused: " << options.aligned << " is the recording itself; name another file to write."
               << std::endl;
        writeUsage(errors, prepSynopsis);
        return exitUsage;
    }
    SoundFile file;
    code = openRecording(options, file, errors);
    if (code != exitOk)
        return code;

    const char* header[] = {argv[0], options.recording.c_str()};
    writeRunHeader(report, argc, header);
    options.schedule.printSettings(report);
    report << "input:\t" << file.description() << ", " << file.rate << " Hz, " << file.channels << " channels, "
           << file.frames << " frames" << std::endl;

    static BurstLocator locator;
    locator.start(StepTable::from(options.schedule), file.rate);
    std::vector<std::int64_t> nonfinite[2];
    if (!locate(file, options.channelA - 1, options.channelB - 1, locator, nonfinite)) {
        errors << "Failed to read tone bursts from disk: " << file.error << std::endl;
        return exitSteps;
    }
    TimingSolution timing = solveTiming(locator, options.reference);
    StepVerdict verdict = judgeSteps(locator, timing, file.rate, nonfinite);
    if (!verdict.clockDamage.empty()) {
        timing = solveTiming(locator, options.reference, verdict.clockDamage);
        verdict = judgeSteps(locator, timing, file.rate, nonfinite);
    }
    Refusal refusal = prepRefusal(locator, timing, verdict, file.rate, double(file.frames));
    if (refusal.code == exitNotFound && file.channels > 2 && !options.channelsGiven)
        refusal.text += " The recording has " + std::to_string(file.channels)
            + " channels and ravprep reads 1 and 2: name others with --channels A,B.";
    if (refusal.code != exitOk) {
        errors << refusal.text << std::endl;
        return refusal.code;
    }
    printFacts(report, timing, verdict, file.rate, locator.table);
    for (const std::string& warning : prepWarnings(locator, timing, verdict, options))
        errors << warning << std::endl;

    AlignedOutput output;
    code = writeOutput(file, options, timing, verdict, output, errors);
    if (code != exitOk)
        return code;
    for (const std::string& warning : outputWarnings(timing, output))
        errors << warning << std::endl;
    report << "wrote:\t" << options.aligned << std::endl;
    return exitOk;
}
