#include "fit/fit.h"

#include "audio/float_wav.h"
#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/option_reader.h"
#include "common/output_target.h"
#include "common/replacing_file.h"
#include "common/report_format.h"
#include "common/units.h"
#include "fit/fit_options.h"
#include "fit/fit_report.h"
#include "fit/identification.h"
#include "fit/step_gatherer.h"
#include "recording/aligned_writer.h"
#include "recording/recording_findings.h"
#include "recording/timed_recording.h"

#include <cmath>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The grid of --ppo: frequencies 1000 * 2^(i / N) Hz from here to there,
// kept where both levels are known to 1 dB.
constexpr double gridLowest = 1;
constexpr double gridHighest = 20000;
constexpr double gridUncertaintyDb = 1;

// The channel whose arrival places both: the reference, else the first to
// arrive.
int timingChannel(const TimingSolution& timing)
{
    if (timing.reference >= 0)
        return timing.reference;
    if (timing.channels[0].found && timing.channels[1].found)
        return timing.lag[1] < timing.lag[0] ? 1 : 0;
    return timing.channels[1].found ? 1 : 0;
}

// Reads the recording onto the generator's frames and identifies the
// responses. exitOk, or a code with its line written to `errors`.
int identify(TimedRecording& recording, const FitOptions& options, Identification& fit, std::ostream& errors)
{
    const TimingSolution& timing = recording.timing;
    const int base = timingChannel(timing);
    for (int c = 0; c < 2; ++c)
        if (timing.channels[c].found)
            fit.arrival[c] = double(fit.lead) + (timing.lag[c] - timing.lag[base]) / timing.ratio;
    const int lagOf[2] = {base, base};
    std::vector<OutputStretch> stretches = recording.stretches(lagOf);
    StepGatherer gatherer(fit.table, static_cast<std::int64_t>(fit.lead), fit.neededFrames(),
                          [&](std::size_t step, const std::vector<double> (&span)[2]) { fit.addStep(step, span); });
    AlignedSink sink = [&](std::int64_t first, const double* pairs, std::int64_t count) {
        return gatherer.take(first, pairs, count);
    };
    const int inputs[2] = {options.input.channelA - 1, options.input.channelB - 1};
    std::string error;
    if (!readAlignedFrames(recording.file, inputs, stretches, sink, error)) {
        errors << error << std::endl;
        return exitStreamFailed;
    }
    gatherer.finish();
    fit.finish();
    return exitOk;
}

// Marks the steps whose windows the responses explain far worse than their
// neighbours' as damaged. True when there were any.
bool markDeparting(const Identification& fit, TimedRecording& recording)
{
    bool any = false;
    for (int c = 0; c < 2; ++c)
        for (std::int64_t step : fit.departingSteps(c)) {
            recording.verdict.damaged[c][static_cast<std::size_t>(step)] = 1;
            any = true;
        }
    return any;
}

// The impulse responses as a stereo float file: a sweep's L taps, or a
// polar run's steps one after another.
int writeResponses(const Identification& fit, const std::string& path, std::ostream& errors)
{
    std::size_t steps = fit.perStep ? fit.table.steps.size() : 1;
    std::vector<float> frames;
    frames.reserve(2 * steps * fit.taps);
    for (std::size_t step = 0; step < steps; ++step)
        for (std::size_t m = 0; m < fit.taps; ++m)
            for (int c = 0; c < 2; ++c)
                frames.push_back(static_cast<float>(fit.response(c, step)[m]));
    // Made in memory, since the library seeks while it writes: the file
    // may be a FIFO or a device, written straight through.
    std::ostringstream made;
    std::string error;
    if (!writeFloatWav(made, frames, 2, static_cast<int>(sampleRate), error)) {
        errors << "Failed to write the impulse responses to " << path << ": " << error << std::endl;
        return exitStreamFailed;
    }
    ReplacingFile out;
    if (!out.open(path)) {
        errors << "Failed to open output file: " << path << ": " << out.problem << std::endl;
        return exitOpen;
    }
    const std::string bytes = made.str();
    out.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.commit()) {
        errors << "Failed to write the impulse responses to " << path << ": " << out.problem << std::endl;
        return exitStreamFailed;
    }
    return exitOk;
}

void writeStepRows(const Identification& fit, const FitOptions& options, std::ostream& report)
{
    writeStepHeader(report);
    BurstSchedule schedule = options.input.schedule;
    schedule.begin();
    const double gate = options.gateMs * sampleRate / 1000;
    for (std::size_t step = 0; schedule.hasMore() && step < fit.table.steps.size(); ++step) {
        schedule.printRow(report);
        report << '\t';
        ChannelReading readings[2] = {fit.readStep(0, step, gate), fit.readStep(1, step, gate)};
        writeReadings(report, readings, true);
        schedule.next();
    }
}

void writeGridRows(const Identification& fit, const FitOptions& options, double highest, std::ostream& report)
{
    writeGridHeader(report);
    const double gate = options.gateMs * sampleRate / 1000;
    const int n = options.pointsPerOctave;
    const int first = static_cast<int>(std::ceil(n * std::log2(gridLowest / 1000)));
    for (int i = first;; ++i) {
        double frequency = 1000 * std::exp2(double(i) / n);
        if (frequency > highest)
            break;
        ChannelReading readings[2] = {fit.readFrequency(0, frequency, gate), fit.readFrequency(1, frequency, gate)};
        if (!(readings[0].err < gridUncertaintyDb && readings[1].err < gridUncertaintyDb))
            continue;
        RowText row;
        row.addReal(frequency);
        row.writeTo(report);
        report << '\t';
        writeReadings(report, readings, false);
    }
}

} // namespace

int runFit(int argc, const char* const* argv, std::ostream& report, std::ostream& errors)
{
    int code = exitOk;
    const OptionTable& table = fitOptionTable();
    if (table.helpHandled(argc, argv, report, code))
        return code;
    FitOptions options;
    code = options.read(argc, argv, errors);
    if (code != exitOk)
        return code;
    if (!options.impulseFile.empty()
        && table.outputIsInput(options.input.recording, "the recording", options.impulseFile, errors))
        return exitUsage;
    if (!options.impulseFile.empty() && outputRefused(options.impulseFile, "Failed to open output file: ", errors))
        return exitOpen;
    TimedRecording recording({"ravfit", "left out of the fit"});
    code = recording.start(options.input, table.synopsis, argc, argv, report, errors);
    if (code != exitOk)
        return code;
    Identification fit;
    if (!fit.begin(recording.locator->table, recording.verdict.damaged, recording.file.rate)) {
        errors << "Refused: the bursts fill so much of their interval that no impulse response fits between them; "
                  "generate with a higher start frequency."
               << std::endl;
        return exitMismatch;
    }
    code = identify(recording, options, fit, errors);
    if (code == exitOk && markDeparting(fit, recording)) {
        // Fitted again without the steps that the first fit showed damaged.
        code = recording.refuseDamage(errors);
        if (code == exitOk) {
            fit = Identification();
            fit.begin(recording.locator->table, recording.verdict.damaged, recording.file.rate);
            code = identify(recording, options, fit, errors);
        }
    }
    if (code != exitOk)
        return code;
    recording.printFacts(report);
    for (const std::string& warning : recording.warnings(options.input))
        errors << warning << std::endl;
    report << "taps:\t" << fit.taps << std::endl;
    if (!options.impulseFile.empty()) {
        code = writeResponses(fit, options.impulseFile, errors);
        if (code != exitOk)
            return code;
        report << "wrote:\t" << options.impulseFile << std::endl;
    }
    if (options.pointsPerOctave > 0)
        writeGridRows(fit, options, std::min(gridHighest, highestCarried(recording.file.rate)), report);
    else
        writeStepRows(fit, options, report);
    report << std::flush;
    return exitOk;
}
