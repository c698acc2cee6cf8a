#include "recording/timed_recording.h"

#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/report_format.h"
#include "common/units.h"
#include "locator/step_table.h"
#include "recording/recording_findings.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>

namespace {

constexpr std::int64_t blockFrames = 8192;
// Nothing needs correcting when the clock is within this and every
// arrival within a thousandth of a whole frame (output_stretches.cpp).
constexpr double sameClockPpm = 0.02;
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

} // namespace

int TimedRecording::open(RecordingOptions& options, const char* synopsis, std::ostream& errors)
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
        errors << "Failed to open input file: " << options.recording << ": it can be read only once (a pipe or "
               << "FIFO); " << program.name << " reads a recording twice, so save it to a file first." << std::endl;
        return exitOpen;
    }
    if (file.channels == 1 && !options.channelsGiven)
        options.channelA = options.channelB = 1;
    if (options.channelA > file.channels || options.channelB > file.channels) {
        errors << "--channels " << options.channelA << "," << options.channelB << " refused: "
               << options.recording << " has " << file.channels << (file.channels == 1 ? " channel." : " channels.")
               << std::endl;
        writeUsage(errors, synopsis);
        return exitUsage;
    }
    if (file.channels == 1 && !options.referenceGiven)
        options.reference = ReferenceChoice::none;
    return exitOk;
}

void TimedRecording::printHeader(const RecordingOptions& options, int argc, const char* const* argv,
                                 std::ostream& report) const
{
    const char* header[] = {argv[0], options.recording.c_str()};
    writeRunHeader(report, argc, header);
    options.schedule.printSettings(report);
    report << "input:\t" << file.description() << ", " << file.rate << " Hz, " << file.channels << " channels, "
           << file.frames << " frames" << std::endl;
}

int TimedRecording::solve(const RecordingOptions& options, std::ostream& errors)
{
    locator->start(StepTable::from(options.schedule), file.rate);
    if (!locate(file, options.channelA - 1, options.channelB - 1, *locator, nonfinite)) {
        errors << "Failed to read tone bursts from disk: " << file.error << std::endl;
        return exitStreamFailed;
    }
    timing = solveTiming(*locator, options.reference);
    verdict = judgeSteps(*locator, timing, file.rate, nonfinite);
    if (!verdict.clockDamage.empty()) {
        timing = solveTiming(*locator, options.reference, verdict.clockDamage);
        verdict = judgeSteps(*locator, timing, file.rate, nonfinite);
    }
    Refusal refusal = recordingRefusal(*locator, timing, verdict, file.rate, double(file.frames));
    if (refusal.code == exitNotFound && file.channels > 2 && !options.channelsGiven)
        refusal.text += " The recording has " + std::to_string(file.channels) + " channels and " + program.name
            + " reads 1 and 2: name others with --channels A,B.";
    if (refusal.code != exitOk)
        errors << refusal.text << std::endl;
    return refusal.code;
}

int TimedRecording::start(RecordingOptions& options, const char* synopsis, int argc, const char* const* argv,
                          std::ostream& report, std::ostream& errors)
{
    int code = open(options, synopsis, errors);
    if (code != exitOk)
        return code;
    printHeader(options, argc, argv, report);
    return solve(options, errors);
}

int TimedRecording::refuseDamage(std::ostream& errors) const
{
    Refusal refusal = recordingRefusal(*locator, timing, verdict, file.rate, double(file.frames));
    if (refusal.code != exitOk)
        errors << refusal.text << std::endl;
    return refusal.code;
}

void TimedRecording::printFacts(std::ostream& report) const
{
    const StepTable& table = locator->table;
    printChannel(report, 1, timing.channels[0]);
    printChannel(report, 2, timing.channels[1]);
    report << "reference:\t" << (timing.reference < 0 ? std::string("none")
                                                       : "channel " + std::to_string(timing.reference + 1))
           << std::endl;
    report << "clock:\t" << fixedText(timing.ppm, 3) << " ppm" << std::endl;
    if (timing.reference >= 0 && timing.channels[1 - timing.reference].found) {
        double frames = timing.timeOfFlight;
        double ms = frames / (sampleRate / 1000);
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
        report << "uncertainty:\t" << fixedText(timing.clockSpread / timing.ratio * 1e6, 3) << " ppm\t"
               << fixedText(timing.phaseSpread(table), 3) << " rad" << std::endl;
    }
    report << "segments:\t" << timing.segments.size() << std::endl;
    for (const ClockJump& jump : verdict.jumps)
        report << "jump:\t" << jump.step + 1 << '\t' << fixedText(jump.frames, 1) << '\t'
               << fixedText(jump.fromFrame / file.rate, 3) << '\t' << fixedText(jump.inputFrame / file.rate, 3)
               << std::endl;
    for (int c = 0; c < 2; ++c)
        report << "damaged " << c + 1 << ":\t" << stepList(verdict.damagedSteps(c)) << std::endl;
}

std::vector<std::string> TimedRecording::warnings(const RecordingOptions& options) const
{
    return recordingWarnings(*locator, timing, verdict, options.reference == ReferenceChoice::none,
                             program.damagedConsequence);
}

bool TimedRecording::needsResampling() const
{
    bool resample = file.rate != sampleRate;
    for (const ClockSegment& segment : timing.segments)
        resample = resample || std::fabs((segment.ratio - 1) * 1e6) >= sameClockPpm;
    return resample;
}
