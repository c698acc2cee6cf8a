#include "delay_finder/delay_finder.h"

#include "common/burst_schedule.h"
#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/little_endian.h"
#include "common/recording_start.h"
#include "common/report_format.h"
#include "common/wav_header.h"
#include "locator/burst_locator.h"
#include "locator/finding_words.h"
#include "locator/schedule_check.h"
#include "locator/step_table.h"
#include "locator/timing_solution.h"

#include <cmath>
#include <istream>
#include <ostream>
#include <vector>

namespace {

constexpr const char* delayFinderSynopsis = "ravdelay recording.wav [delay [numAvg [startFreq [sweep|polar]]]]";
constexpr int blockFrames = 8192;

// Reads 16-bit stereo frames until the locator has all it needs or the
// data end.
void locate(std::istream& in, BurstLocator& locator)
{
    std::vector<unsigned char> block(blockFrames * 4);
    std::vector<double> frames(blockFrames * 2);
    while (!locator.done()) {
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        std::int64_t count = in.gcount() / 4;
        for (std::int64_t i = 0; i < 2 * count; ++i)
            frames[static_cast<std::size_t>(i)] = littleEndian16(&block[static_cast<std::size_t>(2 * i)]);
        locator.push(frames.data(), count);
        if (count < blockFrames)
            break;
    }
    locator.finish();
}

std::int64_t wholeFrame(double frame)
{
    return static_cast<std::int64_t>(std::llround(frame));
}

// Names the columns of the per-channel lines below it.
constexpr const char* channelColumns = "channel:\tfirst step frame\tpolarity\tdB above noise";

void printChannel(std::ostream& report, int number, const ChannelTiming& channel)
{
    report << "channel " << number << ":\t";
    if (!channel.found) {
        report << "none" << std::endl;
        return;
    }
    report << wholeFrame(channel.firstSteps) << '\t' << (channel.polarity > 0 ? "+1" : "-1") << '\t';
    writeReal(report, channel.levelAboveNoise);
    report << std::endl;
}

} // namespace

int runDelayFinder(int argc, const char* const* argv, std::istream& in, std::ostream& report,
                   std::ostream& errors)
{
    int code = exitOk;
    if (leadingDashHandled(argc, argv, delayFinderSynopsis, report, errors, code))
        return code;
    BurstSchedule schedule;
    WavHeader header;
    code = readRecordingStart(argc, argv, delayFinderSynopsis, in, schedule, header, errors);
    if (code != exitOk)
        return code;
    writeRunHeader(report, argc, argv);
    warnAboutForeignHeader(header, errors);
    schedule.printSettings(report);

    BurstLocator locator;
    locator.start(StepTable::from(schedule), schedule.sampRate);
    locate(in, locator);
    if (in.bad()) {
        errors << "Failed to read tone bursts from disk." << std::endl;
        return exitStreamFailed;
    }
    TimingSolution timing = solveTiming(locator, ReferenceChoice::automatic);
    report << channelColumns << std::endl;
    printChannel(report, 1, timing.channels[0]);
    printChannel(report, 2, timing.channels[1]);
    const ChannelTiming* earliest = nullptr;
    for (const ChannelTiming& channel : timing.channels)
        if (channel.found && (earliest == nullptr || channel.firstSteps < earliest->firstSteps))
            earliest = &channel;
    // ravdelay has no options to name; it reads 44100 Hz only.
    FindingVoice voice;
    voice.rateHint = "ravdelay reads its samples at 44100 Hz: prepare the recording with ravprep, which reads "
                     "any rate and finds the first step itself.";
    if (std::optional<Finding> mismatch = scheduleFinding(locator, timing, double(locator.pushed), schedule.sampRate)) {
        // The rate the header states, where it states a plausible one.
        if (mismatch->kind == FindingKind::wrongSpeed && header.fmt.sampRate >= 8000 && header.fmt.sampRate <= 384000)
            mismatch->fileRate = header.fmt.sampRate;
        errors << findingText(*mismatch, locator.table, voice) << std::endl;
        return exitMismatch;
    }
    if (earliest == nullptr) {
        errors << "No tone burst found in either channel: the recording holds no burst of the first step's "
                  "shape after a quiet lead-in. Check the wiring and the level, and start recording before "
                  "playback."
               << std::endl;
        return exitNotFound;
    }
    for (const Finding& finding : recordingFindings(locator, timing, false))
        errors << findingText(finding, locator.table, voice) << std::endl;
    report << "delay:\t" << wholeFrame(earliest->firstSteps) << std::endl;
    return exitOk;
}
