#pragma once

#include "locator/burst_track.h"
#include "locator/event_probe.h"
#include "locator/frame_ring.h"
#include "locator/onset_detector.h"
#include "locator/step_table.h"

#include <cstdint>
#include <vector>

/// What the locator found in one channel.
struct ChannelBursts {
    bool found = false;              ///< a track was confirmed
    bool startsInsideBurst = false;  ///< the recording began inside a burst of the first step's shape
    bool leadInLoud = false;         ///< a confirmed track was refused: its lead-in was not quiet
    bool burstAfterRun = false;      ///< a polar run's burst lies an interval after its last one
    std::vector<BurstHit> hits;      ///< every burst found, in run order
    double firstStart = 0;           ///< the first burst's start, input frames
    double firstPower = 0;           ///< its window's power per frame
    StretchPower leadIn;             ///< the frames before it

    /// The channel's noise: its lead-in's power per frame, 0 without one.
    double noise() const { return leadIn.frames > 0 ? leadIn.variance : 0; }
};

/// Where the recording moved the run by more than the wide search reaches,
/// or by whole bursts: a channel that tells the steps apart found, where its
/// line put burst `fromBurst`, burst `fromBurst + by`, `moved` input frames
/// after that place. The other channel's track follows it.
struct RunShift {
    std::int64_t fromBurst = 0;
    std::int64_t by = 0;
    double moved = 0;
};

/// Finds every burst of a run in a two-channel recording at any sample
/// rate, streaming: frames are pushed in order and memory stays fixed
/// whatever the recording's length. Per channel, a detector proposes first
/// bursts; each proposal is followed through the schedule and kept once
/// `confirmations` later bursts lie where the schedule puts them, each well
/// above the silence before it. A confirmed burst must also follow a quiet
/// lead-in (unless the run has none), so a recording that begins inside a
/// step is refused rather than read from a later burst.
struct BurstLocator {
    static constexpr int channelCount = 2;
    static constexpr int confirmations = 3;
    static constexpr std::size_t passedKept = 16;
    static constexpr int maxPending = 8;
    /// The first hits of each track are matched against the first steps
    /// of a sweep from the run's start frequency, to tell what was played.
    static constexpr std::size_t identifiedHits = 12;
    static constexpr std::size_t identifiedSteps = 40;
    /// The widest search for a burst that is not where it was expected,
    /// input frames either way.
    static constexpr int maxWideReach = 16384;
    /// How far the match of another frequency's burst is looked for.
    static constexpr int maxFactorReach = 512;
    /// A burst matched this well keeps the generator's shape: a loopback's.
    static constexpr double shapeKept = 0.999;
    /// Bursts matched this well tell neighbouring steps of a sweep apart.
    static constexpr double stepsTold = 0.9999;

    struct Channel {
        FrameRing ring;
        OnsetDetector detector;
        EventProbe probe;
        std::vector<BurstTrack> tracks;
        int confirmed = -1;
        bool refused = false;
        double quietFrom = 0;
        std::int64_t lastGuided = -1;  ///< the latest burst a guided track was proposed at
        bool retriedLoud = false;      ///< refused for a loud lead-in, then looked for again as the other's run
        /// Bursts that tracks dropped before one was confirmed matched as
        /// the generator's own (the latest `passedKept`): a polar run's
        /// first bursts, cut off from the rest by frames lost or inserted,
        /// which the ring no longer holds when a later track is confirmed.
        std::vector<BurstHit> passed;
        ChannelBursts result;
    };

    StepTable table;
    StepTable sweepFromStart;      ///< a sweep from the run's start frequency
    std::int64_t identifyLead = 0; ///< frames past a burst's start that matching it against those steps needs
    double nominalRatio = 1;       ///< input frames per played frame, nominal: the rates' ratio
    std::vector<BurstShape> shapes;  ///< each step's shape at the nominal ratio
    Channel channels[channelCount];
    std::vector<RunShift> shifts;  ///< in the order found
    std::int64_t pushed = 0;
    std::int64_t giveUpAt = 0;

    /// Starts a search for the run `table` in a recording of `inputRate`
    /// frames per second.
    void start(const StepTable& steps, double inputRate);

    /// Adds `frames` frames of two interleaved channels, in sample units of
    /// the 16-bit scale (full scale 32768).
    void push(const double* interleaved, std::int64_t frames);

    /// True when reading on can change nothing: every channel has followed
    /// its run to the last burst, or was refused, or the search has gone on
    /// longer than any recording of the run can be.
    bool done() const;

    /// Ends the search at the end of the data.
    void finish();

    const ChannelBursts& channel(int c) const { return channels[c].result; }
    /// The first loud sound's frequency on channel `c`, Hz (0 for none).
    double eventFrequency(int c) const { return channels[c].probe.frequency(); }
    /// Input frame where the first loud sound on channel `c` began (0 for none).
    std::int64_t eventStart(int c) const { return channels[c].probe.startFrame; }
    /// Input frames from the first loud sound on channel `c` to the next (0 for none).
    std::int64_t eventSpacing(int c) const { return channels[c].probe.spacing(); }
    /// Input frames the first loud sound on channel `c` lasted (0 for none).
    std::int64_t eventLength(int c) const { return channels[c].probe.length(); }

private:
    void pushOne(Channel& channel, double sample);
    void advanceTracks(Channel& channel);
    void proposeFromOther(Channel& channel);
    bool evaluate(Channel& channel, BurstTrack& track);
    bool tryFit(const Channel& channel, BurstTrack& track, const BurstShape& shape, double predicted, int reach,
                double trackRatio, BurstFit& fit) const;
    /// How far a search looks either way, input frames: near the
    /// prediction, over most of the interval, over all of it.
    struct SearchReach {
        int narrow, wide, whole;
    };
    bool search(const Channel& channel, BurstTrack& track, const BurstShape& shape, double predicted,
                const SearchReach& reach, double trackRatio, BurstFit& fit) const;
    void recordHit(const Channel& channel, BurstTrack& track, const BurstShape& shape, const BurstFit& fit,
                   double onLine);
    int wideReach(const BurstShape& shape, double trackRatio) const;
    // Telling the steps apart, where a jump moved the run (run_shift.cpp).
    /// Whether the track's bursts match their own step so much better than
    /// its neighbours that a whole-burst move can be read from them.
    bool canTellStepsApart(const BurstTrack& track) const;
    int runReach(const BurstShape& shape, double trackRatio) const;
    std::int64_t heardBurst(const Channel& channel, const BurstTrack& track, const BurstFit& fit,
                            double trackRatio) const;
    void followShifts(BurstTrack& track) const;
    /// The burst's frequency as a factor of the step's, where a burst of
    /// another frequency (a harmonic, an alias) matches it better; 1
    /// otherwise. `fine` gets the factor within 2 %.
    double heardFrequencyFactor(const Channel& channel, const StepInfo& step, double start, double trackRatio,
                                double& fine) const;
    /// How well a burst `factor` times the step's frequency matches at
    /// `start`; -1 above half the rate, -2 when the ring does not hold it.
    double factorScore(const Channel& channel, const StepInfo& step, double start, double trackRatio, double factor,
                       bool wide) const;
    /// 1 - the correlation of `span` frames at `earlier` with those at
    /// `later`: near 0 for two bursts of the same step.
    double sampleDifference(const Channel& channel, double earlier, double later, double span) const;
    void alignWithOther(Channel& channel);
    void reindex(BurstTrack& track, std::int64_t late);
    void confirm(Channel& channel, BurstTrack& track);
    void findEarlierBursts(Channel& channel, BurstTrack& track);
    /// The same for a polar run, whose bursts look alike: from the bursts
    /// that tracks dropped before.
    void takePassedBursts(Channel& channel, BurstTrack& track) const;
    /// Looks for a burst of a polar run one interval after its last (into
    /// `ChannelBursts::burstAfterRun`); false while the ring does not yet
    /// hold that place.
    bool lookPastEnd(Channel& channel, BurstTrack& track) const;
    /// The hit that `fit` makes of burst `burst`, at `ratio` input frames per played frame.
    BurstHit hitFrom(const BurstFit& fit, std::int64_t burst, const BurstShape& shape, double ratio) const;
    /// The same for a burst found before or between a track's hits, named by its shape.
    BurstHit earlierHit(const Channel& channel, std::int64_t burst, const BurstFit& fit) const;
    void fillGaps(const Channel& channel, BurstTrack& track) const;
    int identifyStep(const Channel& channel, double start, double trackRatio, double& bestScore) const;
};
