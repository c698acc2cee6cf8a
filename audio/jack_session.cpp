#include "audio/jack_session.h"

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

namespace {

// About six seconds per port at 44100 Hz: the main thread's pauses, a
// slow disk or a resampler's burst never reach it.
constexpr std::size_t ringBytes = std::size_t(1) << 20;
// In freewheel mode a cycle waits this long for the main thread before the
// run counts as broken.
constexpr auto freewheelPatience = std::chrono::seconds(2);
constexpr const char* portNames[4] = {"out_1", "out_2", "in_1", "in_2"};

jack_client_t* jackClient(void* handle)
{
    return static_cast<jack_client_t*>(handle);
}

jack_port_t* jackPort(void* handle)
{
    return static_cast<jack_port_t*>(handle);
}

jack_ringbuffer_t* jackRing(void* handle)
{
    return static_cast<jack_ringbuffer_t*>(handle);
}

std::size_t readableFrames(void* ring)
{
    return jack_ringbuffer_read_space(jackRing(ring)) / sizeof(float);
}

std::size_t writableFrames(void* ring)
{
    return jack_ringbuffer_write_space(jackRing(ring)) / sizeof(float);
}

// The library writes its own diagnostics to standard error; the program
// says in one line what went wrong instead.
void quiet(const char*) {}

int onProcess(jack_nframes_t frames, void* session)
{
    static_cast<JackSession*>(session)->cycle(frames);
    return 0;
}

// A late cycle may have played or recorded what it should not: the frames
// around it are healed like lost ones. The note is left to the process
// cycle, the one writer of the lost-frame notes.
int onXrun(void* arg)
{
    auto* session = static_cast<JackSession*>(arg);
    if (session->armed && !session->finished && !session->closing) {
        ++session->xruns;
        session->lateCycle = true;
    }
    return 0;
}

void onShutdown(jack_status_t, const char*, void* arg)
{
    static_cast<JackSession*>(arg)->breakRun(RunBreak::serverGone);
}

void onFreewheel(int starting, void* arg)
{
    static_cast<JackSession*>(arg)->freewheeling = starting != 0;
}

void onConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* arg)
{
    auto* session = static_cast<JackSession*>(arg);
    if (connected || !session->armed || session->finished || session->closing)
        return;
    jack_client_t* client = jackClient(session->client);
    for (void* port : session->ports)
        if (jack_port_by_id(client, a) == port || jack_port_by_id(client, b) == port)
            session->breakRun(RunBreak::portsGone);
}

// Notes in `first`, once, the frame of the run (`at` + index) of the first
// sample of `samples` that is not silence.
void firstSound(std::atomic<std::int64_t>& first, std::int64_t at, const float* samples, std::size_t count)
{
    if (first >= 0)
        return;
    for (std::size_t i = 0; i < count; ++i)
        if (samples[i] != 0.0f) {
            first = at + static_cast<std::int64_t>(i);
            return;
        }
}

// Waits, in freewheel mode only, until `ready` holds or the patience ends.
template <typename Ready>
bool waitWhileFreewheeling(const JackSession& session, Ready ready)
{
    if (!session.freewheeling)
        return ready();
    const auto until = std::chrono::steady_clock::now() + freewheelPatience;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

} // namespace

JackSession::~JackSession()
{
    close();
    for (void*& ring : rings) {
        if (ring != nullptr)
            jack_ringbuffer_free(jackRing(ring));
        ring = nullptr;
    }
}

bool JackSession::open(const std::string& serverName, const std::string& clientName)
{
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    int options = JackNoStartServer;
    if (!serverName.empty())
        options |= JackServerName;
    client = jack_client_open(clientName.c_str(), static_cast<jack_options_t>(options), &status,
                              serverName.c_str());
    if (client == nullptr) {
        noServer = (status & JackServerFailed) != 0;
        error = noServer ? "no JACK server answered" : "the JACK server refused the client";
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        unsigned long direction = i < 2 ? JackPortIsOutput : JackPortIsInput;
        ports[i] = jack_port_register(jackClient(client), portNames[i], JACK_DEFAULT_AUDIO_TYPE, direction, 0);
        if (ports[i] == nullptr) {
            error = std::string("cannot register the port ") + portNames[i];
            return false;
        }
    }
    if (!makeRings(ringBytes)) {
        error = "cannot allocate the rings";
        return false;
    }
    jack_set_process_callback(jackClient(client), onProcess, this);
    jack_set_xrun_callback(jackClient(client), onXrun, this);
    jack_set_freewheel_callback(jackClient(client), onFreewheel, this);
    jack_set_port_connect_callback(jackClient(client), onConnect, this);
    jack_on_info_shutdown(jackClient(client), onShutdown, this);
    return true;
}

bool JackSession::makeRings(std::size_t bytes)
{
    for (void*& ring : rings)
        if (ring == nullptr)
            ring = jack_ringbuffer_create(bytes);
    return std::all_of(std::begin(rings), std::end(rings), [](void* ring) { return ring != nullptr; });
}

int JackSession::rate() const
{
    return static_cast<int>(jack_get_sample_rate(jackClient(client)));
}

int JackSession::period() const
{
    return static_cast<int>(jack_get_buffer_size(jackClient(client)));
}

std::vector<std::string> JackSession::allPorts(bool playback) const
{
    std::vector<std::string> names;
    const char** found = jack_get_ports(jackClient(client), nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                        playback ? JackPortIsInput : JackPortIsOutput);
    for (const char** name = found; name != nullptr && *name != nullptr; ++name)
        names.emplace_back(*name);
    jack_free(found);
    return names;
}

std::vector<std::string> JackSession::physicalPorts(bool playback) const
{
    std::vector<std::string> names;
    const char** found = jack_get_ports(jackClient(client), nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsPhysical | (playback ? JackPortIsInput : JackPortIsOutput));
    for (const char** name = found; name != nullptr && *name != nullptr && names.size() < 2; ++name)
        names.emplace_back(*name);
    jack_free(found);
    return names;
}

bool JackSession::othersFreewheel() const
{
    constexpr auto watched = std::chrono::milliseconds(200);
    const jack_nframes_t before = jack_frame_time(jackClient(client));
    std::this_thread::sleep_for(watched);
    const double passed = double(jack_nframes_t(jack_frame_time(jackClient(client)) - before));
    // A freewheeling server's clock runs hundreds of times its pace; a
    // loaded machine's only a little off it.
    return passed > 4 * 0.2 * rate() + 8192;
}

bool JackSession::cyclesRunFast() const
{
    constexpr auto watched = std::chrono::milliseconds(200);
    const std::int64_t before = cycles;
    std::this_thread::sleep_for(watched);
    const double passed = double(cycles - before) * period();
    return passed > 4 * 0.2 * rate() + 8192;
}

bool JackSession::activate()
{
    if (jack_activate(jackClient(client)) != 0) {
        error = "the JACK server would not start the client";
        return false;
    }
    return true;
}

void JackSession::arm()
{
    tailLeft = tailFrames;
    armed = true;
}

bool JackSession::startFreewheel()
{
    if (jack_set_freewheel(jackClient(client), 1) != 0) {
        error = "the JACK server would not freewheel";
        return false;
    }
    freewheelAsked = true;
    return true;
}

bool JackSession::connect(const std::vector<std::string>& play, const std::vector<std::string>& record,
                          bool loopback)
{
    for (int channel = 0; channel < 2; ++channel) {
        std::string out = jack_port_name(jackPort(ports[channel]));
        std::string in = jack_port_name(jackPort(ports[2 + channel]));
        std::string from[2] = {out, loopback ? out : record[channel]};
        std::string to[2] = {loopback ? in : play[channel], in};
        for (int link = 0; link < (loopback ? 1 : 2); ++link) {
            int status = jack_connect(jackClient(client), from[link].c_str(), to[link].c_str());
            if (status != 0 && status != EEXIST) {
                error = "cannot connect " + from[link] + " to " + to[link];
                return false;
            }
        }
    }
    return true;
}

std::int64_t JackSession::latencyFrames(bool loopback) const
{
    jack_recompute_total_latencies(jackClient(client));
    jack_latency_range_t playback{}, capture{};
    jack_port_get_latency_range(jackPort(ports[0]), JackPlaybackLatency, &playback);
    jack_port_get_latency_range(jackPort(ports[2]), JackCaptureLatency, &capture);
    std::int64_t frames = std::int64_t(playback.max) + capture.max;
    // The server runs a client whose output feeds its own input once per
    // cycle, so what it plays arrives at its inputs in the next cycle.
    if (loopback)
        frames += period();
    return frames;
}

std::int64_t JackSession::measuredLatency() const
{
    if (firstPlayed < 0 || firstHeard < 0)
        return -1;
    return firstHeard - firstPlayed;
}

std::size_t JackSession::playbackSpace() const
{
    return std::min(writableFrames(rings[0]), writableFrames(rings[1]));
}

std::size_t JackSession::playbackQueued() const
{
    return std::min(readableFrames(rings[0]), readableFrames(rings[1]));
}

std::size_t JackSession::captureSpace() const
{
    return std::min(writableFrames(rings[2]), writableFrames(rings[3]));
}

std::size_t JackSession::captureReady() const
{
    return std::min(readableFrames(rings[2]), readableFrames(rings[3]));
}

void JackSession::pushPlayback(const float* left, const float* right, std::size_t count)
{
    jack_ringbuffer_write(jackRing(rings[0]), reinterpret_cast<const char*>(left), count * sizeof(float));
    jack_ringbuffer_write(jackRing(rings[1]), reinterpret_cast<const char*>(right), count * sizeof(float));
}

void JackSession::takeCapture(float* left, float* right, std::size_t count)
{
    jack_ringbuffer_read(jackRing(rings[2]), reinterpret_cast<char*>(left), count * sizeof(float));
    jack_ringbuffer_read(jackRing(rings[3]), reinterpret_cast<char*>(right), count * sizeof(float));
}

void JackSession::breakRun(RunBreak reason)
{
    RunBreak none = RunBreak::none;
    broken.compare_exchange_strong(none, reason);
}

void JackSession::noteLost(std::int64_t at, std::int64_t frames)
{
    if (frames > 0 && pendingLoss.frames > 0 && pendingLoss.at + pendingLoss.frames == at) {
        pendingLoss.frames += frames;
        return;
    }
    publishLoss();
    pendingLoss = LostFrames{at, frames};
    if (frames == 0)
        publishLoss();
}

void JackSession::publishLoss()
{
    if (pendingLoss.frames == 0 && pendingLoss.at < 0)
        return;
    const LostFrames note = pendingLoss;
    pendingLoss = LostFrames{-1, 0};
    int index = lostCount;
    if (index >= mostLost) {
        breakRun(RunBreak::xrun);
        return;
    }
    lost[index] = note;
    lostCount = index + 1;
}

void JackSession::cycle(std::uint32_t frames)
{
    ++cycles;
    float* out[2];
    float* in[2];
    for (int channel = 0; channel < 2; ++channel) {
        out[channel] = static_cast<float*>(jack_port_get_buffer(jackPort(ports[channel]), frames));
        in[channel] = static_cast<float*>(jack_port_get_buffer(jackPort(ports[2 + channel]), frames));
        std::fill(out[channel], out[channel] + frames, 0.0f);
    }
    if (!armed || finished || broken != RunBreak::none)
        return;
    if (lateCycle.exchange(false))
        noteLost(played + owedPlay, 0);
    if (missCycles > 0 && missAt >= 0 && played >= missAt) {
        --missCycles;  // as if the server had not called this client
        return;
    }
    bool ended = false;
    std::size_t ready = 0, take = 0;
    if (!followFrameClock(frames))
        return;
    settleOwed();
    if (!playCycle(out, frames, ended, ready, take) || !recordCycle(in, frames, take))
        return;
    publishLoss();
    if (ended && take == ready && tailLeft == 0 && owedPlay == 0 && owedSilence == 0)
        finished = true;
}

bool JackSession::followFrameClock(std::uint32_t frames)
{
    // Cycles that the server skipped leave a gap in its frame clock. The
    // stimulus skips the frames it would have played and the recording
    // gets silence for the frames it missed, so that frame k of the one is
    // still frame k of the other; the frames are noted for healing.
    if (freewheeling) {
        haveFrameTime = false;
        return true;
    }
    std::uint32_t now = jack_last_frame_time(jackClient(client));
    if (haveFrameTime && now != lastFrameTime + frames) {
        const std::int64_t gap = frameClockGap(now, lastFrameTime, frames);
        if (frameClockWentBack(gap, frames)) {
            breakRun(RunBreak::clockBack);
            return false;
        }
        // A clock that stood still or stepped back a cycle or two was read
        // early or late once (below), and nothing was lost.
        if (gap > 0) {
            ++xruns;
            skipLost(gap);
        }
    }
    lastFrameTime = now;
    haveFrameTime = true;
    return true;
}

bool JackSession::playCycle(float* const out[2], std::uint32_t frames, bool& ended, std::size_t& ready,
                            std::size_t& take)
{
    // The end flag is read before the rings: once it is set, every frame
    // of the stimulus is in them.
    ended = stimulusEnded.load();
    ready = std::min(readableFrames(rings[0]), readableFrames(rings[1]));
    if (!ended && ready < frames) {
        waitWhileFreewheeling(*this, [&] {
            ended = stimulusEnded.load();
            ready = std::min(readableFrames(rings[0]), readableFrames(rings[1]));
            return ended || ready >= frames;
        });
        if (freewheeling && !ended && ready < frames) {
            breakRun(RunBreak::playbackLate);
            return false;
        }
    }
    // A stimulus still owed, or late on a loaded machine: the cycle plays
    // silence and its frames are lost like skipped ones, to be healed.
    if (owedPlay > 0 || (!ended && ready < frames)) {
        skipLost(frames);
        settleOwed();
        return false;
    }
    take = std::min<std::size_t>(ready, frames);
    for (int channel = 0; channel < 2; ++channel)
        jack_ringbuffer_read(jackRing(rings[channel]), reinterpret_cast<char*>(out[channel]), take * sizeof(float));
    firstSound(firstPlayed, played, out[0], take);
    played += static_cast<std::int64_t>(take);
    return true;
}

bool JackSession::recordCycle(float* const in[2], std::uint32_t frames, std::size_t take)
{
    // The frames of the cycle after the stimulus's last belong to the tail.
    const std::size_t tailPart = std::min<std::int64_t>(frames - take, tailLeft);
    const std::size_t record = take + tailPart;
    tailLeft -= static_cast<std::int64_t>(tailPart);
    const bool room = waitWhileFreewheeling(*this, [&] { return owedSilence == 0 && captureSpace() >= record; });
    if (!room && freewheeling) {
        breakRun(RunBreak::captureFull);
        return false;
    }
    if (!room) {
        // The recording is not taken in time on a loaded machine: what the
        // cycle heard is lost and its silence owed, to be healed.
        noteLost(played - static_cast<std::int64_t>(take), static_cast<std::int64_t>(record));
        owedSilence += static_cast<std::int64_t>(record);
        settleOwed();
        return false;
    }
    for (int channel = 0; channel < 2; ++channel)
        jack_ringbuffer_write(jackRing(rings[2 + channel]), reinterpret_cast<const char*>(in[channel]),
                              record * sizeof(float));
    firstSound(firstHeard, recorded, in[0], record);
    recorded += static_cast<std::int64_t>(record);
    return true;
}

bool frameClockWentBack(std::int64_t gap, std::uint32_t frames)
{
    // On a loaded machine a cycle late to run may read the frame time of
    // the server's next cycle, or one early to run the last cycle's, and
    // the cycle after reads the clock stood still or a cycle back. That
    // reading's gap was no loss, or the other's is not: either way the
    // frames skipped are skipped on both sides, stimulus and recording,
    // so frame k of the one stays frame k of the other. Only a clock that
    // goes back further than such a misreading reaches breaks the count.
    constexpr std::int64_t misreadCycles = 16;
    return gap < -misreadCycles * std::int64_t(frames);
}

std::int64_t frameClockGap(std::uint32_t now, std::uint32_t last, std::uint32_t frames)
{
    // The difference, signed: a clock that went back must not read as a
    // gap of hours, whose owed silence would fill the disk.
    return std::int32_t(now - last - frames);
}

void JackSession::skipLost(std::int64_t gap)
{
    noteLost(played + owedPlay, gap);
    owedPlay += gap;
    owedSilence += gap;
}

void JackSession::settleOwed()
{
    if (owedPlay > 0) {
        // The end flag is read before the rings: once it is set, every
        // frame of the stimulus is in them.
        const bool ended = stimulusEnded.load();
        const std::size_t ready = std::min(readableFrames(rings[0]), readableFrames(rings[1]));
        const std::int64_t skip = std::min<std::int64_t>(owedPlay, std::int64_t(ready));
        for (int channel = 0; channel < 2; ++channel)
            jack_ringbuffer_read_advance(jackRing(rings[channel]), static_cast<std::size_t>(skip) * sizeof(float));
        played += skip;
        owedPlay -= skip;
        // What is owed past the stimulus's end comes off the tail.
        if (ended && std::int64_t(ready) == skip) {
            tailLeft -= std::min(tailLeft, owedPlay);
            owedPlay = 0;
        }
    }
    const float zeros[256] = {};
    while (owedSilence > 0 && captureSpace() > 0) {
        const std::size_t part = static_cast<std::size_t>(
            std::min<std::int64_t>({owedSilence, 256, std::int64_t(captureSpace())}));
        for (int channel = 0; channel < 2; ++channel)
            jack_ringbuffer_write(jackRing(rings[2 + channel]), reinterpret_cast<const char*>(zeros),
                                  part * sizeof(float));
        owedSilence -= std::int64_t(part);
        recorded += std::int64_t(part);
    }
}

void JackSession::close()
{
    closing = true;
    if (client != nullptr && broken == RunBreak::serverSilent) {
        client = nullptr;
        return;
    }
    if (client != nullptr) {
        if (broken != RunBreak::serverGone) {
            if (freewheelAsked) {
                jack_set_freewheel(jackClient(client), 0);
                // PipeWire's JACK interface can deadlock when a client
                // deactivates while the server is still leaving freewheel:
                // the leaving is let finish first (or given up on).
                const auto until = std::chrono::steady_clock::now() + freewheelPatience;
                while (freewheeling && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            jack_deactivate(jackClient(client));
        }
        jack_client_close(jackClient(client));
        client = nullptr;
    }
}
