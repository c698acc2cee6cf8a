#include "measure/stimulus_feed.h"

#include "common/units.h"

#include <algorithm>

namespace {

constexpr std::size_t blockFrames = 4096;

} // namespace

bool StimulusFeed::start(int serverRate)
{
    resampling = serverRate != sampleRate;
    for (Resampler& resampler : resamplers)
        if (resampling && !resampler.start(sampleRate, serverRate)) {
            error = "the resampler refused 44100 Hz to " + std::to_string(serverRate) + " Hz";
            return false;
        }
    block.resize(blockFrames * 2);
    add(FeedPiece{0, file.frames});
    return true;
}

std::int64_t StimulusFeed::add(FeedPiece piece)
{
    std::int64_t at = queued;
    if (piece.count > 0) {
        pieces.push_back(piece);
        queued += piece.count;
    }
    return at;
}

bool StimulusFeed::refill()
{
    pending[0].clear();
    pending[1].clear();
    pendingAt = 0;
    if (pieces.empty()) {
        if (!closed)
            return true;  // more may come
        if (resampling) {
            for (int channel = 0; channel < 2; ++channel)
                resamplers[channel].finish(pending[channel]);
        }
        ended = true;
        return true;
    }
    FeedPiece& piece = pieces.front();
    const std::int64_t want = std::min<std::int64_t>(piece.count, std::int64_t(blockFrames));
    std::int64_t got = want;
    if (piece.start < 0) {
        std::fill(block.begin(), block.begin() + 2 * want, 0.0);
    } else {
        // Pieces of the file played again start elsewhere; the file itself
        // is read straight through.
        if (piece.start != fileAt && !file.seek(piece.start)) {
            error = file.error;
            return false;
        }
        got = file.read(block.data(), want);
        if (got < 0) {
            error = file.error;
            return false;
        }
        fileAt = piece.start + got;
        if (got < want)  // the file is shorter than it said: the rest is silence
            std::fill(block.begin() + 2 * got, block.begin() + 2 * want, 0.0);
        got = want;
        piece.start += want;
    }
    piece.count -= want;
    if (piece.count == 0)
        pieces.pop_front();
    std::vector<double> channels[2];
    for (int channel = 0; channel < 2; ++channel) {
        std::vector<double>& target = resampling ? channels[channel] : pending[channel];
        for (std::int64_t i = 0; i < got; ++i)
            target.push_back(block[2 * i + channel]);
        if (resampling)
            resamplers[channel].process(channels[channel].data(), channels[channel].size(), pending[channel]);
    }
    return true;
}

bool StimulusFeed::feed(JackSession& session, std::size_t& pushed)
{
    pushed = 0;
    while (!ended || pendingAt < std::min(pending[0].size(), pending[1].size())) {
        std::size_t waiting = std::min(pending[0].size(), pending[1].size()) - pendingAt;
        if (waiting == 0) {
            if (ended || (pieces.empty() && !closed))
                break;
            if (!refill())
                return false;
            continue;
        }
        std::size_t count = std::min(waiting, session.playbackSpace());
        if (count == 0)
            break;
        for (int channel = 0; channel < 2; ++channel) {
            scaled[channel].resize(count);
            // 16-bit samples to the server's scale, exactly.
            for (std::size_t i = 0; i < count; ++i)
                scaled[channel][i] = static_cast<float>(pending[channel][pendingAt + i] / sampleScale16);
        }
        session.pushPlayback(scaled[0].data(), scaled[1].data(), count);
        pendingAt += count;
        pushed += count;
    }
    return true;
}

bool StimulusFeed::allPushed() const
{
    return ended && drained();
}

bool StimulusFeed::drained() const
{
    return pieces.empty() && pendingAt >= std::min(pending[0].size(), pending[1].size());
}
