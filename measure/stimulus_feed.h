#pragma once

#include "jack_session.h"
#include "resampler.h"
#include "sound_file.h"

#include <cstddef>
#include <string>
#include <vector>

/// The stimulus on its way to the server: read from its file in blocks,
/// converted to the server's rate when that is not 44100 Hz, and pushed
/// into the session's playback rings as far as they have room.
struct StimulusFeed {
    SoundFile file;
    bool resampling = false;
    Resampler resamplers[2];
    std::vector<double> block;       ///< interleaved frames as read
    std::vector<double> pending[2];  ///< converted frames not yet pushed
    std::size_t pendingAt = 0;
    std::vector<float> scaled[2];
    bool fileDone = false;
    bool ended = false;              ///< the file and the resampler are drained
    std::string error;

    /// Prepares the conversion from 44100 Hz to `serverRate`. False, with
    /// `error` set, when the resampler refuses.
    bool start(int serverRate);

    /// Pushes what fits; `pushed` is set to the frames pushed. False, with
    /// `error` set, when the file cannot be read.
    bool feed(JackSession& session, std::size_t& pushed);

    /// True when the whole stimulus is in the playback rings.
    bool allPushed() const;

  private:
    bool refill();
};
