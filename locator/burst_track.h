#pragma once

#include "locator/burst_left_over.h"
#include "locator/burst_shape.h"
#include "locator/step_table.h"

#include <cstdint>
#include <vector>

/// One burst found where a track expected it. Times are taken at the
/// middle of the matched window, where a small error in the assumed clock
/// shifts the match least.
struct BurstHit {
    std::int64_t burst = 0;  ///< index in the run (StepTable)
    double played = 0;       ///< played frames from the first step's start to the window's middle
    double time = 0;         ///< input frame of the window's middle
    double fundamentalDelay = 0;  ///< the fundamental's phase as a delay after `time`, input frames
    double peak = 0;              ///< the largest sample of the burst
    int playedStep = -1;          ///< the step of a sweep from the start frequency it matches best; -1 unknown
    double playedScore = 0;       ///< how well it matches that step, 0 .. 1
    double heardFrequencyFactor = 1;  ///< the burst's frequency against the step's, where another matches better
    double fineFactor = 1;        ///< the same within 2 %, where the shape fits the burst all but wholly
    double differenceFromPrevious = -1;  ///< 1 - the correlation of its samples with the burst before's; -1 unknown
    double amplitude = 0;    ///< gain, negative when inverted
    double unclipped = 0;    ///< the gain from the samples that did not clip
    double score = 0;        ///< normalised correlation, 0 .. 1
    double power = 0;        ///< window power per frame
    BurstLeftOver leftOver;  ///< what the window and its edges hold beyond the burst
};

/// A proposed first burst followed through the schedule: each later burst
/// is looked for where the line through the latest hits puts it,
/// and the track dies when two bursts in a row are missing before it has
/// been confirmed by `confirmations` hits.
struct BurstTrack {
    enum class State { pending, confirmed, dead };

    State state = State::pending;
    std::int64_t proposal = 0;   ///< the detector's start frame for burst 0
    std::int64_t next = 0;       ///< the burst looked for next
    int missesInRow = 0;
    /// The first hit of the stretch since the recording last jumped (or
    /// a hit lay far from where it was expected); the clock is fitted
    /// from there, and until three hits are in, `carriedRatio` holds.
    std::size_t stretchStart = 0;
    double carriedRatio = 0;
    std::size_t shiftsSeen = 0;  ///< the locator's shifts this track has followed
    double pendingMove = 0;      ///< input frames to add to the line's predictions until the next hit
    bool jumpAhead = false;      ///< the next hit starts a new stretch
    bool cut = false;            ///< burst 0 began before the recording did
    bool pastEndLooked = false;  ///< a polar run's place after its last burst was looked at
    /// Proposed where the other channel's confirmed track put a later
    /// burst, for a device whose first steps lie in its noise (a tweeter).
    bool guided = false;
    double firstStart = 0;       ///< the first hit's start, input frames
    double firstPower = 0;       ///< the first hit's window power
    std::vector<BurstHit> hits;
    /// Bursts found before its first when it was confirmed, to be put in
    /// front of its hits once it finds its first again.
    std::vector<BurstHit> earlier;

    /// Input frames per played frame lately: the slope through the latest
    /// hits once three are in, else `nominal`.
    double ratio(double nominal) const;

    /// Whether a match of `score` leaves unexplained (1 - score^2) far more
    /// than the track's latest hits do: a neighbouring cycle of a burst
    /// that all but wholly matches its shape.
    bool matchesWorse(double score) const;

    /// The input frame where burst `burst` should start.
    double predictStart(const StepTable& table, double nominal, std::int64_t burst) const;

    /// How far from the prediction to search, in input frames.
    int reach(const StepTable& table, const BurstShape& shape, double nominal, std::int64_t burst) const;

    /// Adds `hit`; `expected` is the input frame where its window's middle
    /// was predicted. A hit more than `jumpFrames` from it starts a new
    /// stretch of the clock fit, as does any hit after `jumpAhead` was set.
    void addHit(const BurstHit& hit, double expected, double nominal);

    static constexpr double jumpFrames = 1.0;

private:
    // The slope of the least-squares line through the latest hits.
    bool fitted(double& slope) const;
};
