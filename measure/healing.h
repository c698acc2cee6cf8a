#pragma once

#include "audio/jack_session.h"
#include "audio/sound_file.h"
#include "measure/stimulus_feed.h"

#include <cstdint>
#include <string>
#include <vector>

/// Frames [start, end) of what is played or recorded, at 44100 Hz, and
/// how often they have been played.
struct FrameRange {
    std::int64_t start = 0, end = 0;
    int attempt = 1;
};

/// A stretch of the recording to be replaced by the same stretch played
/// again later in the run: recording frames [to, to + count) take the
/// frames from `from` on.
struct Splice {
    std::int64_t to = 0, from = 0, count = 0;
    int attempt = 1;
};

/// Heals the frames a run lost: each stretch of the stimulus whose
/// playing or recording the lost frames touched (unless the stimulus is
/// silent there) is played again after the run, from a little before it
/// and after silence, so that the device is in the same state; its
/// recording is spliced into its place afterwards. A stretch played again
/// is checked the same way. All positions are 44100 Hz frames of what is
/// played, from its first frame.
struct Healer {
    std::int64_t mainEnd = 0;       ///< the stimulus and its tail: the recording's length
    std::int64_t stimulusEnd = 0;   ///< the stimulus's own frames
    double toPlayed = 1;            ///< 44100 Hz frames per server frame
    std::int64_t latency = 0;       ///< the most the recording lags what is played, frames
    std::int64_t budget = 0;        ///< frames that may be played again in all
    SoundFile stimulus;             ///< read again for the silence check
    std::vector<FrameRange> touched;  ///< stretches of the recording waiting to be played again
    std::vector<Splice> splices;      ///< stretches played again, in the order played
    std::int64_t checkpoint = 0;    ///< the end of what must be played before the next review
    std::int64_t replayed = 0;
    int seen = 0;                   ///< lost-frame notes taken so far
    LostFrames longest;             ///< the longest loss so far, in server frames
    std::string failure;            ///< why the run cannot be healed

    /// Reads the session's new notes of lost frames into `touched`. False,
    /// with `failure` set, when a stretch has failed three times.
    bool take(const JackSession& session);

    /// Once everything queued so far has been played and recorded: queues
    /// the touched stretches to be played again, or closes the feed when
    /// none is left. False, with `failure` set, when more than the budget
    /// would have to be played again or the stimulus cannot be read.
    bool review(const JackSession& session, StimulusFeed& feed);

  private:
    bool silent(FrameRange range);
    void touch(FrameRange range);
};

/// Copies each splice's frames over its place in the 16-bit stereo WAV file
/// at `path` and cuts the file to `frames` frames, its 44-byte header
/// describing them. False, with `error` set, on a failed read or write.
bool applySplices(const std::string& path, const std::vector<Splice>& splices, std::int64_t frames,
                  std::string& error);
