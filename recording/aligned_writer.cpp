#include "recording/aligned_writer.h"

#include "common/little_endian.h"
#include "common/stereo_wav_writer.h"
#include "recording/channel_aligner.h"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace {

constexpr std::int64_t blockFrames = 8192;
// Output frames worked out before a later stretch and dropped, so that the
// converters' filters have settled on the recording when it begins.
constexpr std::int64_t warmUpFrames = 4096;
// Input frames this far before the recording's first convert to exact
// silence: the reader makes that silence itself rather than converting it.
constexpr double silentReach = 8192;

struct StretchReader {
    SoundFile& file;
    const int (&inputs)[2];
    const AlignedSink& sink;
    std::string& error;
    bool stopped = false;

    // One reader reads one stretch: its converters start there.
    StretchReader(SoundFile& recording, const int (&channels)[2], const AlignedSink& to, std::string& why)
        : file(recording), inputs(channels), sink(to), error(why)
    {
    }

    ChannelAligner aligners[2];
    std::int64_t lead[2] = {0, 0};  // output frames of plain silence before each converter's first
    std::vector<double> block;
    bool ended = false;

    bool read(const OutputStretch& stretch, std::int64_t warmUp);

private:
    // Starts both converters where the stretch needs them and seeks the
    // recording to the first frame either reads.
    bool begin(const OutputStretch& stretch, std::int64_t warmUp);
    // Feeds both converters the next block of the recording.
    bool feedBlock();
};

// The 16-bit file ravan reads: damaged steps silent, samples rounded and
// clipped.
struct SixteenBitSink {
    const StepTable& table;
    const StepVerdict& verdict;
    std::ostream& out;
    AlignedOutput& output;
    std::vector<unsigned char> bytes;

    // The step output frame `frame` belongs to, or -1 outside the run.
    std::int64_t stepAt(std::int64_t frame) const
    {
        std::int64_t played = frame - table.delay;
        if (played < 0 || played >= table.bursts() * table.interval)
            return -1;
        return played / table.interval / table.numAvg;
    }

    void put(unsigned char* pair, int c, std::int64_t step, double sample)
    {
        bool damaged = step >= 0 && verdict.damaged[c][static_cast<std::size_t>(step)] != 0;
        bool held = false;
        std::int16_t value = damaged ? 0 : toSample16(sample, held);
        output.clipped[c] += held;
        output.nonzero[c] += value != 0;
        putLittleEndian16(pair + 2 * c, value);
    }

    bool take(std::int64_t first, const double* pairs, std::int64_t count)
    {
        bytes.resize(static_cast<std::size_t>(count * 4));
        for (std::int64_t i = 0; i < count; ++i) {
            std::int64_t step = stepAt(first + i);
            for (int c = 0; c < 2; ++c)
                put(bytes.data() + 4 * i, c, step, pairs[2 * i + c]);
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return bool(out);  // the caller reports a failed write
    }
};

bool StretchReader::begin(const OutputStretch& stretch, std::int64_t warmUp)
{
    const std::int64_t first = stretch.firstFrame - warmUp;
    double from[2];
    for (int c = 0; c < 2; ++c) {
        double atFirst = stretch.start[c] - stretch.ratio * double(warmUp);
        double silent = std::ceil((-silentReach - atFirst) / stretch.ratio);
        lead[c] = static_cast<std::int64_t>(std::clamp(silent, 0.0, double(stretch.endFrame - first)));
        from[c] = atFirst + stretch.ratio * double(lead[c]);
    }
    std::int64_t seekTo = static_cast<std::int64_t>(std::floor(std::min(from[0], from[1]))) - 1;
    seekTo = std::clamp<std::int64_t>(seekTo, 0, file.frames);
    for (int c = 0; c < 2; ++c)
        if (!aligners[c].start(from[c], stretch.ratio, seekTo)) {
            error = "Failed to start the sample rate conversion.";
            return false;
        }
    if (!file.seek(seekTo)) {
        error = "Failed to read tone bursts from disk: " + file.error;
        return false;
    }
    block.resize(static_cast<std::size_t>(blockFrames * file.channels));
    ended = seekTo >= file.frames;
    if (ended)
        for (ChannelAligner& aligner : aligners)
            aligner.finish();
    return true;
}

bool StretchReader::feedBlock()
{
    std::int64_t got = file.read(block.data(), blockFrames);
    if (got < 0) {
        error = "Failed to read tone bursts from disk: " + file.error;
        return false;
    }
    for (double& sample : block)
        if (!std::isfinite(sample))
            sample = 0;
    for (int c = 0; c < 2; ++c)
        aligners[c].feed(block.data() + inputs[c], got, file.channels);
    if (got < blockFrames) {
        ended = true;
        for (ChannelAligner& aligner : aligners)
            aligner.finish();
    }
    return true;
}

bool StretchReader::read(const OutputStretch& stretch, std::int64_t warmUp)
{
    if (!begin(stretch, warmUp))
        return false;
    const std::int64_t first = stretch.firstFrame - warmUp;
    std::vector<double> pairs;
    std::int64_t frame = first;
    auto ready = [&](int c) {
        std::int64_t done = frame - first;
        return std::max<std::int64_t>(0, lead[c] - done) + static_cast<std::int64_t>(aligners[c].available());
    };
    while (frame < stretch.endFrame) {
        if (!ended && std::min(ready(0), ready(1)) < blockFrames) {
            if (!feedBlock())
                return false;
            continue;
        }
        // A channel that ran dry at the end of the recording writes silence.
        std::int64_t count = std::min(blockFrames, stretch.endFrame - frame);
        if (!ended)
            count = std::min(count, std::min(ready(0), ready(1)));
        pairs.clear();
        std::int64_t firstKept = std::max(frame, stretch.firstFrame);
        for (std::int64_t i = 0; i < count; ++i, ++frame)
            for (int c = 0; c < 2; ++c) {
                bool silent = frame - first < lead[c] || aligners[c].available() == 0;
                double sample = silent ? 0.0 : aligners[c].take();
                if (frame >= stretch.firstFrame)
                    pairs.push_back(sample);
            }
        for (ChannelAligner& aligner : aligners)
            aligner.compact();
        if (!pairs.empty() && !sink(firstKept, pairs.data(), static_cast<std::int64_t>(pairs.size() / 2))) {
            stopped = true;
            return true;
        }
    }
    return true;
}

} // namespace

bool readAlignedFrames(SoundFile& file, const int (&inputs)[2], const std::vector<OutputStretch>& stretches,
                       const AlignedSink& sink, std::string& error)
{
    for (const OutputStretch& stretch : stretches) {
        if (stretch.silent) {
            const std::vector<double> silence(static_cast<std::size_t>(2 * blockFrames), 0.0);
            bool going = true;
            for (std::int64_t frame = stretch.firstFrame; going && frame < stretch.endFrame; frame += blockFrames)
                going = sink(frame, silence.data(), std::min(blockFrames, stretch.endFrame - frame));
            if (!going)
                break;
            continue;
        }
        StretchReader reader(file, inputs, sink, error);
        if (!reader.read(stretch, &stretch == &stretches.front() ? 0 : std::min(warmUpFrames, stretch.firstFrame)))
            return false;
        if (reader.stopped)
            break;
    }
    return true;
}

bool writeAlignedFrames(SoundFile& file, const int (&inputs)[2], const std::vector<OutputStretch>& stretches,
                        const StepTable& table, const StepVerdict& verdict, std::ostream& out,
                        AlignedOutput& output, std::string& error)
{
    SixteenBitSink sixteen{table, verdict, out, output, {}};
    AlignedSink sink = [&](std::int64_t first, const double* pairs, std::int64_t count) {
        return sixteen.take(first, pairs, count);
    };
    return readAlignedFrames(file, inputs, stretches, sink, error);
}
