#include "delay_finder.h"

#include "bits.h"
#include "burst_schedule.h"
#include "command_line.h"
#include "exit_codes.h"
#include "onset_search.h"
#include "recording_start.h"
#include "report_format.h"
#include "tone_burst.h"
#include "wav_header.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <ostream>

namespace {

constexpr const char* delayFinderSynopsis = "ravdelay recording.wav [delay [numAvg [startFreq [sweep|polar]]]]";

// Everything the search needs, held by the flow for the whole run.
struct DelayFinder {
    static constexpr int blockFrames = 8192;

    std::int16_t burst[OnsetSearch::maxLength];
    double phasorCos[OnsetSearch::maxLength];
    double phasorSin[OnsetSearch::maxLength];
    OnsetSearch channels[2];
    unsigned char block[blockFrames * 4];

    // Reads frames until both channels have found the burst, or one has and
    // the other has had a whole interval more to show it, or the data end.
    void search(std::istream& in, std::int32_t interval)
    {
        std::int64_t frame = 0;
        while (!(channels[0].found() && channels[1].found())) {
            std::int64_t giveUpAt = -1;
            for (const OnsetSearch& channel : channels)
                if (channel.found())
                    giveUpAt = channel.onset() + interval;
            if (giveUpAt >= 0 && frame >= giveUpAt)
                break;
            in.read(reinterpret_cast<char*>(block), sizeof block);
            std::int64_t frames = in.gcount() / 4;
            for (std::int64_t i = 0; i < frames; ++i, ++frame)
                for (int c = 0; c < 2; ++c)
                    channels[c].push(littleEndian16(block + 4 * i + 2 * c));
            if (frames * 4 < static_cast<std::int64_t>(sizeof block))
                break;
        }
        for (OnsetSearch& channel : channels)
            channel.finish();
    }
};

// A burst counts when it was found after quiet frames, or when the file
// itself has no lead-in: a recording that begins inside a burst may have
// missed the first step, and a later burst would give a wrong answer.
bool counts(const OnsetSearch& channel, std::int32_t leadIn)
{
    return channel.found() && (leadIn == 0 || channel.quietBefore());
}

void printChannel(std::ostream& report, int number, const OnsetSearch& channel, std::int32_t leadIn)
{
    report << "channel " << number << ":\t";
    if (!counts(channel, leadIn)) {
        report << "none" << std::endl;
        return;
    }
    report << channel.onset() << '\t' << (channel.polarity() > 0 ? "+1" : "-1") << '\t';
    writeReal(report, channel.levelAboveNoise());
    report << std::endl;
}

} // namespace

int runDelayFinder(int argc, const char* const* argv, std::istream& in, std::ostream& report,
                   std::ostream& errors)
{
    BurstSchedule schedule;
    WavHeader header;
    int code = readRecordingStart(argc, argv, delayFinderSynopsis, in, schedule, header, errors);
    if (code != exitOk)
        return code;
    writeRunHeader(report, argc, argv);
    warnAboutForeignHeader(header, errors);
    schedule.printSettings(report);

    schedule.begin();
    DelayFinder finder;
    int length = static_cast<int>(std::min<std::int64_t>(
        {std::int64_t(schedule.duration), std::int64_t(schedule.interval), OnsetSearch::maxLength}));
    for (int i = 0; i < length; ++i) {
        finder.burst[i] = toneBurstSample(i, schedule.omega);
        finder.phasorCos[i] = std::cos(schedule.omega * i);
        finder.phasorSin[i] = std::sin(schedule.omega * i);
    }
    for (OnsetSearch& channel : finder.channels)
        channel.start(finder.burst, finder.phasorCos, finder.phasorSin, schedule.numAvg > 0 ? length : 0,
                      schedule.sampRate / schedule.actFreq);
    finder.search(in, schedule.interval);
    if (in.bad()) {
        errors << "Failed to read tone bursts from disk." << std::endl;
        return exitSteps;
    }

    printChannel(report, 1, finder.channels[0], schedule.delay);
    printChannel(report, 2, finder.channels[1], schedule.delay);
    const OnsetSearch* earliest = nullptr;
    for (const OnsetSearch& channel : finder.channels)
        if (counts(channel, schedule.delay) && (earliest == nullptr || channel.onset() < earliest->onset()))
            earliest = &channel;
    if (earliest == nullptr) {
        errors << "No tone burst found in either channel: the recording holds no burst of the first step's "
                  "shape after a quiet lead-in. Check the wiring and the level, and start recording before "
                  "playback."
               << std::endl;
        return exitNotFound;
    }
    report << "delay:\t" << earliest->onset() << std::endl;
    return exitOk;
}
