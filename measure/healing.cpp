#include "measure/healing.h"

#include "common/report_format.h"
#include "common/stereo_wav_writer.h"
#include "common/units.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <filesystem>

namespace {

// Frames around a loss that count as touched beyond the latency: the
// converters' filters and a device's own short memory.
constexpr std::int64_t margin = 1024;
// Of the stimulus before a stretch played again, so that the device has
// the same input behind it; and the silence before that.
constexpr std::int64_t leadIn = 8192;
// Frames before a loss whose stimulus must be silent for it to cost
// nothing: what a device may still ring with.
constexpr std::int64_t ringing = 4096;
constexpr int mostAttempts = 3;

} // namespace

void Healer::touch(FrameRange range)
{
    range.start = std::max<std::int64_t>(range.start, 0);
    range.end = std::min(range.end, mainEnd);
    if (range.end > range.start && !silent(range))
        touched.push_back(range);
}

bool Healer::silent(FrameRange range)
{
    std::int64_t from = std::max<std::int64_t>(0, range.start - ringing);
    std::int64_t to = std::min(range.end, stimulusEnd);
    if (to <= from)
        return true;
    if (!stimulus.seek(from))
        return false;
    std::vector<double> frames(static_cast<std::size_t>(2 * (to - from)));
    std::int64_t got = stimulus.read(frames.data(), to - from);
    if (got != to - from)
        return false;
    return std::all_of(frames.begin(), frames.end(), [](double v) { return v == 0; });
}

bool Healer::take(const JackSession& session)
{
    for (; seen < session.lostCount; ++seen) {
        const LostFrames& lost = session.lost[seen];
        if (lost.frames > longest.frames)
            longest = lost;
        const std::int64_t at = static_cast<std::int64_t>(std::floor(double(lost.at) * toPlayed));
        // A late cycle without lost frames may have spoilt one period.
        const std::int64_t frames = static_cast<std::int64_t>(std::ceil(
            double(std::max<std::int64_t>(lost.frames, session.period())) * toPlayed));
        // What was not played shows in the recording a latency later; what
        // was not recorded had been played a latency before.
        FrameRange range{at - latency - margin, at + frames + latency + margin};
        if (range.start < mainEnd) {
            touch(range);
            continue;
        }
        for (const Splice& splice : splices)
            if (range.start < splice.from + splice.count && range.end > splice.from) {
                if (splice.attempt >= mostAttempts) {
                    failure = "a stretch of the run lost frames each of the " + std::to_string(mostAttempts)
                              + " times it was played";
                    return false;
                }
                touched.push_back(FrameRange{splice.to, splice.to + splice.count, splice.attempt + 1});
            }
    }
    return true;
}

bool Healer::review(const JackSession& session, StimulusFeed& feed)
{
    const double heard = double(session.played) * toPlayed - double(latency + margin);
    if (feed.closed || heard < double(checkpoint))
        return true;
    if (touched.empty()) {
        feed.close();
        return true;
    }
    std::sort(touched.begin(), touched.end(), [](const FrameRange& a, const FrameRange& b) { return a.start < b.start; });
    std::vector<FrameRange> merged;
    for (const FrameRange& range : touched) {
        if (!merged.empty() && range.start <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, range.end);
            merged.back().attempt = std::max(merged.back().attempt, range.attempt);
        } else {
            merged.push_back(range);
        }
    }
    touched.clear();
    for (const FrameRange& range : merged) {
        replayed += range.end - range.start;
        if (replayed > budget) {
            // The figures say whether one long stall or many short ones did it.
            failure = "lost frames touched more than a tenth of the run (" + fixedText(double(replayed) / sampleRate, 1)
                + " s of the " + fixedText(double(budget) / sampleRate, 1) + " s allowed; the longest loss "
                + fixedText(double(longest.frames) * toPlayed / sampleRate, 2) + " s, at "
                + fixedText(double(longest.at) * toPlayed / sampleRate, 1) + " s)";
            return false;
        }
        const std::int64_t before = std::min(leadIn, range.start);
        feed.add(FeedPiece{-1, leadIn + latency + margin});
        std::int64_t at = feed.add(FeedPiece{range.start - before, before + (range.end - range.start) + latency + margin});
        splices.push_back(Splice{range.start, at + before, range.end - range.start, range.attempt});
    }
    feed.add(FeedPiece{-1, latency + margin});
    checkpoint = feed.queued;
    return true;
}

bool applySplices(const std::string& path, const std::vector<Splice>& splices, std::int64_t frames,
                  std::string& error)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> bytes;
    for (const Splice& splice : splices) {
        bytes.resize(static_cast<std::size_t>(StereoWavWriter::frameBytes * splice.count));
        file.seekg(WavHeader::size + StereoWavWriter::frameBytes * splice.from);
        file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.seekp(WavHeader::size + StereoWavWriter::frameBytes * splice.to);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    writeStereoWavSizes(file, frames);
    file.close();
    std::error_code failed;
    if (!file)
        error = "the recording could not be healed in place";
    else
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(WavHeader::size + StereoWavWriter::frameBytes * frames), failed);
    if (failed)
        error = failed.message();
    return error.empty();
}
