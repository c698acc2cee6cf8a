#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

/// Why a run through the audio server stopped before its end.
enum class RunBreak : int {
    none = 0,
    xrun,          ///< the server missed a cycle, or a cycle was skipped
    serverGone,    ///< the server shut down or threw the client out
    serverSilent,  ///< the server stopped running cycles without a word
    portsGone,     ///< a connection of the client's ports was broken
    playbackLate,  ///< the stimulus did not reach the server in time
    captureFull,   ///< the recording was not taken from the server in time
    clockBack,     ///< the server's frame clock went back
};

/// Frames between two cycles' frame times that the server skipped, from
/// its 32-bit frame clock (which wraps): negative where the clock went back.
std::int64_t frameClockGap(std::uint32_t now, std::uint32_t last, std::uint32_t frames);

/// Whether a frame clock `gap` frames off the next cycle's (cycles of
/// `frames`) went back further than a cycle read early or late explains.
bool frameClockWentBack(std::int64_t gap, std::uint32_t frames);

/// Where the run lost frames: `frames` cycles' worth the server skipped
/// (0 for a cycle it only reported late), at frame `at` of the run.
struct LostFrames {
    std::int64_t at = 0;
    std::int64_t frames = 0;
};

/// A JACK client with two output and two input ports that plays one
/// stream and records two inputs in the same process cycles: the stimulus
/// and the recording share one clock, frame for frame. Samples pass
/// through lock-free rings, one per port, on the server's scale (full
/// scale 1.0). In freewheel mode, when the server runs cycles as fast as
/// they complete, the cycle waits for the rings instead of breaking.
struct JackSession {
    void* client = nullptr;      ///< the library's jack_client_t
    void* ports[4] = {};         ///< out_1, out_2, in_1, in_2
    void* rings[4] = {};         ///< to out_1, to out_2, from in_1, from in_2
    std::string error;           ///< why the last operation failed
    bool noServer = false;       ///< open failed because no server answered

    // Set before arm(), read by the process cycle.
    std::int64_t tailFrames = 0;  ///< frames recorded after the stimulus

    // Shared with the process cycle and the server's notifications.
    std::atomic<bool> armed{false};          ///< play and record from the next cycle
    std::atomic<bool> stimulusEnded{false};  ///< no more stimulus will be pushed
    std::atomic<bool> finished{false};       ///< stimulus and tail recorded
    std::atomic<bool> freewheeling{false};
    std::atomic<bool> closing{false};
    bool freewheelAsked = false;             ///< startFreewheel() succeeded
    std::atomic<int> xruns{0};
    std::atomic<RunBreak> broken{RunBreak::none};
    std::atomic<std::int64_t> played{0};     ///< stimulus frames played
    std::atomic<std::int64_t> cycles{0};     ///< process cycles run, for a watchdog

    // Where the stimulus first played a sound on out_1 and where in_1 first
    // heard one, in frames of the run; -1 until then. Over the digital
    // loopback their difference is the latency, whatever the server says.
    std::atomic<std::int64_t> firstPlayed{-1};
    std::atomic<std::int64_t> firstHeard{-1};

    // Frames the run lost, written by the process cycle before `lostCount`
    // counts them; more than fit break the run. The server's report of a
    // late cycle comes on another thread and is noted by the next cycle.
    static constexpr int mostLost = 1024;
    LostFrames lost[mostLost];
    std::atomic<int> lostCount{0};
    std::atomic<bool> lateCycle{false};
    /// To try the healing: from the cycle that plays frame `missAt` on,
    /// the client misses `missCycles` cycles as a slow machine does.
    std::int64_t missAt = -1;
    int missCycles = 0;

    // The process cycle's own state.
    // Frames owed after a stall: stimulus frames to skip once they reach
    // the rings, and silent frames to write to the capture rings once
    // they have room. A loss not yet published in `lost`, so that a run of
    // lost cycles takes one note.
    std::int64_t owedPlay = 0;
    std::int64_t owedSilence = 0;
    LostFrames pendingLoss{-1, 0};
    std::int64_t tailLeft = 0;
    std::int64_t recorded = 0;
    std::uint32_t lastFrameTime = 0;
    bool haveFrameTime = false;

    JackSession() = default;
    JackSession(const JackSession&) = delete;
    JackSession& operator=(const JackSession&) = delete;
    ~JackSession();

    /// Connects to the server `serverName` (the default server when empty)
    /// as `clientName`, without starting one, and registers the ports.
    /// False, with `error` (and `noServer` when none answered) set.
    bool open(const std::string& serverName, const std::string& clientName);

    /// Allocates the four rings of `bytes` each, where not yet done (open
    /// does); false when one cannot be.
    bool makeRings(std::size_t bytes);

    /// The server's sample rate and period, in frames.
    int rate() const;
    int period() const;

    /// The first two physical ports that play (`playback`) or capture.
    std::vector<std::string> physicalPorts(bool playback) const;

    /// Every port name of the given direction, for a message.
    std::vector<std::string> allPorts(bool playback) const;

    /// Whether the server runs its clock far faster than its rate, before
    /// this client joins: another client holds it in freewheel. Watches
    /// the server's frame clock for a fifth of a second.
    bool othersFreewheel() const;

    /// Whether, once active, this client's cycles come far faster than the
    /// rate: a server whose clock reads its pace before a client joins
    /// (PipeWire's) but runs another client's freewheel. Watches a fifth of
    /// a second.
    bool cyclesRunFast() const;

    /// Starts the process cycles. False, with `error` set.
    bool activate();

    /// Plays and records from the next cycle on, with `tailFrames` set.
    void arm();

    /// Asks the server to run its cycles as fast as they complete, without
    /// its sound cards, until close(). False, with `error` set.
    bool startFreewheel();

    /// Connects out_1/out_2 to `play` and `record` to in_1/in_2; with
    /// `loopback`, the client's outputs to its own inputs instead. False,
    /// with `error` naming the port, on the first that fails.
    bool connect(const std::vector<std::string>& play, const std::vector<std::string>& record, bool loopback);

    /// Frames from out_1 to in_1 as the server reports them: playback
    /// latency plus capture latency, plus the one cycle by which a client's
    /// output reaches its own input when `loopback`.
    std::int64_t latencyFrames(bool loopback) const;

    /// Frames from out_1 to in_1 as the run found them over the digital
    /// loopback: from the first sound played to the first heard; -1 when
    /// either is missing.
    std::int64_t measuredLatency() const;

    /// Frames that fit into the playback rings, and frames waiting in the
    /// capture rings.
    std::size_t playbackSpace() const;
    /// Frames waiting in the playback rings.
    std::size_t playbackQueued() const;
    std::size_t captureReady() const;
    std::size_t captureSpace() const;

    /// Appends `count` frames per channel to the playback rings; `count`
    /// must fit.
    void pushPlayback(const float* left, const float* right, std::size_t count);

    /// Takes `count` frames per channel from the capture rings; `count`
    /// must be ready.
    void takeCapture(float* left, float* right, std::size_t count);

    /// The process cycle; public for the library's callback.
    void cycle(std::uint32_t frames);

    /// The cycle's steps, in its order. Each returns false, with the run
    /// broken where it must be, when the cycle ends there.
    /// Follows the server's frame clock over cycles it skipped.
    bool followFrameClock(std::uint32_t frames);
    /// Plays up to `frames` frames of the stimulus into `out`: `take` of
    /// the `ready` in the rings; `ended` once every frame is in them.
    bool playCycle(float* const out[2], std::uint32_t frames, bool& ended, std::size_t& ready, std::size_t& take);
    /// Records the frames played and the tail's share of the cycle.
    bool recordCycle(float* const in[2], std::uint32_t frames, std::size_t take);

    /// Records why the run broke; the first reason stays.
    void breakRun(RunBreak reason);

    /// Notes frames lost at frame `at` of the run, joined to the pending
    /// note where they follow it.
    void noteLost(std::int64_t at, std::int64_t frames);
    /// Publishes the pending note.
    void publishLoss();

    /// Keeps the stimulus and the recording in step over `gap` frames the
    /// run lost at its current frame: the stimulus owes them, the recording
    /// owes their silence.
    void skipLost(std::int64_t gap);
    /// Pays what is owed as far as the rings allow.
    void settleOwed();

    /// Leaves the server; what the capture rings hold can still be taken.
    /// Safe to call more than once and after the server went away; a
    /// server fallen silent is not asked, as it would never answer.
    void close();
};
