#include "prep.h"

#include "bits.h"
#include "burst_locator.h"
#include "channel_aligner.h"
#include "command_line.h"
#include "exit_codes.h"
#include "same_file.h"
#include "prep_options.h"
#include "report_format.h"
#include "schedule_check.h"
#include "sound_file.h"
#include "step_table.h"
#include "timing_solution.h"
#include "wav_header.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t blockFrames = 8192;
constexpr double clockLimitPpm = 1000;
// Nothing needs correcting when the clock is within this and every
// arrival within this of a whole frame.
constexpr double sameClockPpm = 0.02;
constexpr double wholeFrameTolerance = 0.05;

// Reads the chosen channels (0-based) of every frame into the locator.
bool locate(SoundFile& file, int a, int b, BurstLocator& locator)
{
    std::vector<double> block(static_cast<std::size_t>(blockFrames * file.channels));
    std::vector<double> pair(static_cast<std::size_t>(blockFrames * 2));
    while (!locator.done()) {
        std::int64_t got = file.read(block.data(), blockFrames);
        if (got < 0)
            return false;
        for (std::int64_t i = 0; i < got; ++i) {
            pair[2 * i] = block[i * file.channels + a];
            pair[2 * i + 1] = block[i * file.channels + b];
        }
        locator.push(pair.data(), got);
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

struct AlignedOutput {
    std::int64_t frames = 0;
    std::int64_t clipped[2] = {0, 0};
    bool copied = false;
};

// Writes the aligned file from a second pass over the recording.
int writeAligned(SoundFile& file, const PrepOptions& options, const TimingSolution& timing,
                 const double (&starts)[2], bool resample, AlignedOutput& output, std::ostream& errors)
{
    const std::int32_t scheduleFrames = static_cast<std::int32_t>(
        StepTable::from(options.schedule).playedLength());
    double ratio = resample ? timing.slope : 1.0;
    // Enough frames for the schedule, as far as the recording reaches.
    std::int64_t reach = 0;
    for (double start : starts)
        reach = std::max(reach, static_cast<std::int64_t>(std::floor((double(file.frames) - 1 - start) / ratio)) + 1);
    output.frames = std::max<std::int64_t>(0, std::min<std::int64_t>(scheduleFrames, reach));

    ChannelAligner aligners[2];
    for (int c = 0; c < 2; ++c)
        if (!aligners[c].start(starts[c], ratio)) {
            errors << "Failed to start the sample rate conversion." << std::endl;
            return exitSteps;
        }
    std::ofstream out(options.aligned, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out) {
        errors << "Failed to open output file: " << options.aligned << std::endl;
        return exitOpen;
    }
    WavHeader::forData(static_cast<std::int32_t>(output.frames * 4)).write(out);
    if (!file.rewind()) {
        errors << "Failed to read tone bursts from disk: " << file.error << std::endl;
        return exitSteps;
    }
    const int inputs[2] = {options.channelA - 1, options.channelB - 1};
    std::vector<double> block(static_cast<std::size_t>(blockFrames * file.channels));
    std::vector<unsigned char> bytes;
    std::int64_t written = 0;
    bool ended = false;
    while (written < output.frames) {
        if (!ended) {
            std::int64_t got = file.read(block.data(), blockFrames);
            if (got < 0) {
                errors << "Failed to read tone bursts from disk: " << file.error << std::endl;
                return exitSteps;
            }
            for (int c = 0; c < 2; ++c)
                aligners[c].feed(block.data() + inputs[c], got, file.channels);
            if (got < blockFrames) {
                ended = true;
                for (ChannelAligner& aligner : aligners)
                    aligner.finish();
            }
        }
        std::int64_t count = std::min<std::int64_t>(output.frames - written,
                                                    std::min(aligners[0].available(), aligners[1].available()));
        if (ended)
            count = output.frames - written;  // a channel that ran dry writes silence
        bytes.resize(static_cast<std::size_t>(count * 4));
        for (std::int64_t i = 0; i < count; ++i)
            for (int c = 0; c < 2; ++c) {
                double value = aligners[c].available() > 0 ? std::nearbyint(aligners[c].take()) : 0.0;
                if (value > 32767 || value < -32768) {
                    ++output.clipped[c];
                    value = std::max(-32768.0, std::min(32767.0, value));
                }
                putLittleEndian16(&bytes[static_cast<std::size_t>(4 * i + 2 * c)], static_cast<std::int32_t>(value));
            }
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        written += count;
        for (ChannelAligner& aligner : aligners)
            aligner.compact();
        if (!out)
            break;
    }
    out.close();
    if (!out) {
        errors << "Failed to write tone bursts to disk." << std::endl;
        return exitSteps;
    }
    return exitOk;
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
    if (!file.open(options.recording)) {
        errors << "Failed to open input file: " << options.recording << ": " << file.error << std::endl;
        return exitOpen;
    }
    if (file.rate < 8000 || file.rate > 384000 || file.channels < 1) {
        errors << "Failed to open input file: " << options.recording << ": a sample rate of " << file.rate
               << " Hz is outside 8000 to 384000 Hz." << std::endl;
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

    const char* header[] = {argv[0], options.recording.c_str()};
    writeRunHeader(report, argc, header);
    options.schedule.printSettings(report);
    report << "input:\t" << file.description() << ", " << file.rate << " Hz, " << file.channels << " channels, "
           << file.frames << " frames" << std::endl;

    static BurstLocator locator;
    locator.start(StepTable::from(options.schedule), file.rate);
    if (!locate(file, options.channelA - 1, options.channelB - 1, locator)) {
        errors << "Failed to read tone bursts from disk: " << file.error << std::endl;
        return exitSteps;
    }
    TimingSolution timing = solveTiming(locator, options.reference);
    printChannel(report, 1, timing.channels[0]);
    printChannel(report, 2, timing.channels[1]);
    std::string mismatch = scheduleMismatch(locator, timing, double(file.frames), file.rate);
    if (!timing.anyFound() && !mismatch.empty()) {
        errors << mismatch << std::endl;
        return exitMismatch;
    }
    if (!timing.anyFound()) {
        errors << "No tone burst found in either channel: the recording holds no burst of the run's shape "
                  "after a quiet lead-in. Check the wiring, the level and the arguments, and start recording "
                  "before playback."
               << std::endl;
        return exitNotFound;
    }
    report << "reference:\t" << (timing.reference < 0 ? std::string("none")
                                                       : "channel " + std::to_string(timing.reference + 1))
           << std::endl;
    report << "clock:\t" << fixedText(timing.ppm, 3) << " ppm" << std::endl;
    if (std::fabs(timing.ppm) > clockLimitPpm) {
        errors << "The recorder's clock differs from the player's by " << fixedText(timing.ppm, 0)
               << " ppm, more than " << clockLimitPpm << ": the sample rate looks wrong (the file says "
               << file.rate << " Hz)." << std::endl;
        return exitMismatch;
    }
    if (!mismatch.empty()) {
        errors << mismatch << std::endl;
        return exitMismatch;
    }
    for (const std::string& warning : recordingWarnings(locator, timing, options.reference == ReferenceChoice::none))
        errors << warning << std::endl;
    if (timing.reference >= 0 && timing.channels[1 - timing.reference].found) {
        double frames = timing.timeOfFlight;
        double ms = frames / 44.1;
        report << "time of flight:\t" << fixedText(frames, 2) << " frames\t" << fixedText(ms, 3) << " ms\t"
               << fixedText(ms * 343.0, 1) << " mm" << std::endl;
    } else {
        report << "time of flight:\tnone" << std::endl;
    }
    report << "residual:\t" << fixedText(timing.residual, 3) << " frames" << std::endl;
    if (timing.reference < 0 && !timing.clockFromRepeats)
        report << "note:\twithout a loopback and with numAvg 1 the clock also holds the device's phase; "
                  "generate with numAvg 2 for a clock free of it"
               << std::endl;

    // Each channel's first step lands on frame `delay`; a channel without
    // bursts follows the other.
    bool resample = file.rate != 44100 || std::fabs(timing.ppm) >= sameClockPpm;
    double ratio = resample ? timing.slope : 1.0;
    double starts[2];
    for (int c = 0; c < 2; ++c) {
        const ChannelTiming& own = timing.channels[c].found ? timing.channels[c] : timing.channels[1 - c];
        starts[c] = own.arrival - double(options.schedule.delay) * ratio;
        if (!resample && std::fabs(starts[c] - std::round(starts[c])) < wholeFrameTolerance)
            starts[c] = std::round(starts[c]);
    }
    AlignedOutput output;
    code = writeAligned(file, options, timing, starts, resample, output, errors);
    if (code != exitOk)
        return code;
    for (int c = 0; c < 2; ++c)
        if (output.clipped[c] > 0)
            errors << "Warning: " << output.clipped[c] << " samples of channel " << c + 1
                   << " clipped in the aligned file." << std::endl;
    report << "wrote:\t" << options.aligned << std::endl;
    return exitOk;
}
