#pragma once

#include "audio/jack_session.h"
#include "audio/resampler.h"
#include "audio/sound_file.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

/// A stretch of what is played at 44100 Hz: frames of the stimulus from
/// `start`, or silence where `start` is negative.
struct FeedPiece {
    std::int64_t start = -1;
    std::int64_t count = 0;
};

/// The stimulus on its way to the server: read from its file in blocks,
/// converted to the server's rate when that is not 44100 Hz, and pushed
/// into the session's playback rings as far as they have room. What is
/// played is a queue of pieces, the whole file first; more may be added
/// (silence, or stretches of the file to play again) until it is closed.
struct StimulusFeed {
    SoundFile file;
    bool resampling = false;
    Resampler resamplers[2];
    std::vector<double> block;       ///< interleaved frames as read
    std::vector<double> pending[2];  ///< converted frames not yet pushed
    std::size_t pendingAt = 0;
    std::vector<float> scaled[2];
    std::deque<FeedPiece> pieces;    ///< what is still to be read
    std::int64_t queued = 0;         ///< frames at 44100 Hz queued so far, all pieces
    std::int64_t fileAt = 0;         ///< the file's read position, frames
    bool closed = false;             ///< no piece will be added
    bool ended = false;              ///< closed, every piece read and the resampler drained
    std::string error;

    /// Prepares the conversion from 44100 Hz to `serverRate` and queues the
    /// whole file. False, with `error` set, when the resampler refuses.
    bool start(int serverRate);

    /// Queues `piece` after what is queued; returns where its first frame
    /// lies in what is played, 44100 Hz frames from the start.
    std::int64_t add(FeedPiece piece);

    /// Says that nothing more will be queued.
    void close() { closed = true; }

    /// True when everything queued so far is in the playback rings.
    bool drained() const;

    /// Pushes what fits; `pushed` is set to the frames pushed. False, with
    /// `error` set, when the file cannot be read.
    bool feed(JackSession& session, std::size_t& pushed);

    /// True when the whole stimulus is in the playback rings.
    bool allPushed() const;

  private:
    bool refill();
};
