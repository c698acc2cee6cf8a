#include "measure/measure.h"

#include "audio/jack_session.h"
#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/output_target.h"
#include "common/report_format.h"
#include "common/units.h"
#include "common/wav_header.h"
#include "measure/healing.h"
#include "measure/measure_options.h"
#include "measure/progress.h"
#include "measure/recording_sink.h"
#include "measure/stimulus_feed.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <thread>

namespace {

// The resampled capture runs this many frames past the tail, so that the
// conversion back to 44100 Hz has every frame of it.
constexpr std::int64_t conversionMargin = 64;

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "none" : text;
}

// The frames of a stimulus that the generator wrote with these arguments.
std::int64_t scheduleFrames(const BurstSchedule& schedule)
{
    return schedule.delay + std::int64_t(schedule.numAvg) * schedule.numSteps * schedule.interval;
}

// Sets the healer up for a run: where the stimulus and its tail end, the
// clock's ratio, the most the recording may lag, what may be played again.
bool startHealing(Healer& healer, const MeasureOptions& options, const JackSession& session, std::int64_t target,
                  std::int64_t stimulusFrames, std::int64_t latency, int rate, std::ostream& errors)
{
    healer.mainEnd = target;
    healer.stimulusEnd = stimulusFrames;
    healer.toPlayed = sampleRate / rate;
    healer.latency = static_cast<std::int64_t>(std::ceil(double(latency + session.period()) * healer.toPlayed));
    healer.budget = stimulusFrames / 10;
    healer.checkpoint = target;
    if (!healer.stimulus.open(options.stimulus)) {
        errors << "ravmeasure: cannot read " << options.stimulus << ": " << healer.stimulus.error << std::endl;
        return false;
    }
    return true;
}

// While the feed waits for a review, silence keeps the rings from running
// dry: the recording goes on, and is cut at the end.
void keepPlaying(const JackSession& session, StimulusFeed& feed)
{
    constexpr std::size_t lowWater = 16384;
    constexpr std::int64_t idleFrames = 4096;
    if (!feed.closed && feed.drained() && session.playbackQueued() < lowWater)
        feed.add(FeedPiece{-1, idleFrames});
}

// The steps (from 1) that were played again, or "none"; stretches when the
// steps are not known.
std::string healedText(const Healer& healer, const BurstSchedule& schedule, bool stepsKnown, bool complete)
{
    if (!complete || healer.splices.empty())
        return "none";
    if (!stepsKnown)
        return std::to_string(healer.splices.size()) + (healer.splices.size() == 1 ? " stretch" : " stretches");
    const std::int64_t span = std::int64_t(schedule.numAvg) * schedule.interval;
    std::vector<std::int64_t> steps;
    for (const Splice& splice : healer.splices)
        for (std::int64_t step = std::max<std::int64_t>(0, (splice.to - schedule.delay) / span);
             step < schedule.numSteps && schedule.delay + step * span < splice.to + splice.count; ++step)
            if (schedule.delay + (step + 1) * span > splice.to)
                steps.push_back(step + 1);
    std::sort(steps.begin(), steps.end());
    steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
    std::string text;
    for (std::int64_t step : steps)
        text += (text.empty() ? "" : ",") + std::to_string(step);
    return text.empty() ? "none" : text;
}

// The highest burst frequency of the run the arguments describe.
double highestBurst(BurstSchedule walk)
{
    double highest = 0;
    for (walk.begin(); walk.hasMore(); walk.next())
        highest = std::max(highest, walk.actFreq);
    return highest;
}

// What broke a run, and what avoids it where there is a remedy.
std::string breakText(RunBreak reason, const std::string& at)
{
    switch (reason) {
    case RunBreak::xrun:
        return "the server missed a cycle (an xrun) at " + at + " (a larger period, jackd -p, or a realtime "
               "server avoids it)";
    case RunBreak::serverGone:
        return "the JACK server went away at " + at;
    case RunBreak::serverSilent:
        return "the JACK server stopped running cycles at " + at;
    case RunBreak::portsGone:
        return "a port of the measurement was disconnected at " + at;
    case RunBreak::playbackLate:
        return "the stimulus did not reach the server in time at " + at;
    case RunBreak::captureFull:
        return "the recording was not taken from the server in time at " + at;
    case RunBreak::clockBack:
        return "the JACK server's frame clock went back at " + at + ", so the frames lost there cannot be counted";
    case RunBreak::none:
        break;
    }
    return "the run stopped at " + at;
}

// Ports from the command line, or the server's first two physical ones.
bool choosePorts(const JackSession& session, std::vector<std::string>& ports, bool playback,
                 std::ostream& errors)
{
    if (!ports.empty())
        return true;
    ports = session.physicalPorts(playback);
    if (ports.size() == 2)
        return true;
    errors << "ravmeasure: the server has no two physical " << (playback ? "playback" : "capture")
           << " ports; name them with " << (playback ? "--play" : "--record") << " A,B (ports: "
           << joined(session.allPorts(playback)) << "), or use --loopback." << std::endl;
    return false;
}

void writeFacts(std::ostream& facts, const JackSession& session, int rate, int period, std::int64_t latency,
                const RecordingSink& sink, const std::string& healed, const std::string& recording)
{
    facts << "server:\t" << rate << " Hz\t" << period << " frames\n"
          << "latency:\t" << latency << '\t' << fixedText(1000.0 * double(latency) / rate, 2) << '\n'
          << "xruns:\t" << session.xruns << '\n'
          << "healed:\t" << healed << '\n';
    if (sink.nonfinite[0] + sink.nonfinite[1] > 0)
        facts << "nonfinite:\t" << sink.nonfinite[0] << '\t' << sink.nonfinite[1] << '\n';
    for (int channel = 0; channel < 2; ++channel)
        facts << "peak " << channel + 1 << ":\t" << dbfsText(sink.whole[channel].dbfs(), 2) << '\t'
              << sink.whole[channel].clipped << '\n';
    facts << "wrote:\t" << recording << std::endl;
}

// How long the run records, 44100 Hz frames: the stimulus, then its tail.
struct RunLength {
    std::int64_t stimulusFrames = 0, tailFrames = 0, target = 0;
    bool stepsKnown = false;  ///< the stimulus is the run the arguments describe
};

// The server as the run joined it.
struct ServerFacts {
    int rate = 0, period = 0;
    std::int64_t latency = 0;  ///< as the server reports it, server frames
};

// What a run moves for as long as it lasts: what it plays, the server, what
// it records, and the healer of lost cycles. Torn down in reverse order.
struct RunParts {
    StimulusFeed feed;
    JackSession session;
    RecordingSink sink;
    Healer healer;
};

// The progress line and when the run began.
struct ProgressShown {
    ProgressReport report;
    std::chrono::steady_clock::time_point started;
};

// How the playing ended.
struct RunEnd {
    bool readOk = true, writeOk = true, complete = false;
    RunBreak reason = RunBreak::none;
};

// The stimulus: 44100 Hz stereo, short enough to record. exitOk with
// `length` set, or the code of a refusal already written to `errors`.
int openStimulus(const MeasureOptions& options, StimulusFeed& feed, RunLength& length, std::ostream& errors)
{
    if (!feed.file.open(options.stimulus)) {
        errors << "ravmeasure: cannot read " << options.stimulus << ": " << feed.file.error << std::endl;
        return exitOpen;
    }
    if (feed.file.rate != sampleRate || feed.file.channels != 2) {
        errors << "ravmeasure: " << options.stimulus << " is " << feed.file.rate << " Hz with "
               << feed.file.channels << " channels; the stimulus is ravgen's file, 44100 Hz stereo." << std::endl;
        return exitHeader;
    }
    length.stimulusFrames = feed.file.frames;
    length.tailFrames = std::llround(options.tailSeconds * sampleRate);
    length.target = length.stimulusFrames + length.tailFrames;
    if (4 * length.target > largestWavData) {
        errors << "ravmeasure: the recording would take " << 4 * length.target << " bytes, more than the "
               << largestWavData << " that a WAV file's size fields describe; "
               << (4 * length.stimulusFrames > largestWavData ? "the stimulus alone is too long to record: generate "
                                                                "it with a smaller numAvg."
                                                              : "shorten --tail.")
               << std::endl;
        return exitUsage;
    }
    length.stepsKnown = scheduleFrames(options.schedule) == length.stimulusFrames;
    if (!length.stepsKnown)
        errors << "ravmeasure: note: " << options.stimulus << " holds " << length.stimulusFrames
               << " frames, the generator's arguments describe " << scheduleFrames(options.schedule)
               << "; give them after the file names to see the steps." << std::endl;
    return exitOk;
}

// The server: its rate checked, not freewheeling for another client, the
// ports chosen (into `options`) and connected. exitOk with `server` set, or
// the code of a refusal already written to `errors`.
int joinServer(MeasureOptions& options, const RunLength& length, JackSession& session, ServerFacts& server,
               std::ostream& errors)
{
    if (!session.open(options.server, "ravmeasure")) {
        const std::string name = options.server.empty() ? "default" : options.server;
        if (session.noServer)
            errors << "ravmeasure: no JACK server \"" << name << "\" is running; start one (jackd -d alsa -d hw:0 "
                   << "-r 44100 -p 256), or run pw-jack ravmeasure ... on a PipeWire desktop." << std::endl;
        else
            errors << "ravmeasure: " << session.error << " (server \"" << name << "\")." << std::endl;
        return exitNoServer;
    }
    server.rate = session.rate();
    server.period = session.period();
    // A rate below this share of a burst's frequency cannot carry it whole
    // through the converters' filters.
    constexpr double carriedRatio = 2.2;
    const double highest = highestBurst(options.schedule);
    if (length.stepsKnown && server.rate < carriedRatio * highest)
        errors << "ravmeasure: warning: the server runs at " << server.rate << " Hz, which carries bursts up to about "
               << fixedText(server.rate / carriedRatio, 0) << " Hz; the run's reach " << fixedText(highest, 0)
               << " Hz, so ravprep will find the steps above that damaged. Run the server at 44100 Hz or more."
               << std::endl;
    if (!options.loopback && (!choosePorts(session, options.play, true, errors)
                              || !choosePorts(session, options.record, false, errors)))
        return exitNoServer;
    // A client that joins a server another client holds in freewheel (a
    // run at once, or one killed while it freewheeled) stalls its cycles
    // for good: it is asked before joining.
    const char* freewheelingText = "ravmeasure: the JACK server is freewheeling: another client holds it there (a "
                                   "run at the same time, or one killed while it freewheeled); end that client, or "
                                   "run jack_freewheel n, and measure again.";
    if (session.othersFreewheel()) {
        errors << freewheelingText << std::endl;
        return exitNoServer;
    }
    if (!session.activate()) {
        errors << "ravmeasure: " << session.error << "." << std::endl;
        return exitNoServer;
    }
    if (session.cyclesRunFast()) {
        errors << freewheelingText << std::endl;
        return exitNoServer;
    }
    if (!session.connect(options.play, options.record, options.loopback)) {
        errors << "ravmeasure: " << session.error << " (playback ports: " << joined(session.allPorts(true))
               << "; capture ports: " << joined(session.allPorts(false)) << ")." << std::endl;
        return exitNoServer;
    }
    server.latency = session.latencyFrames(options.loopback);
    return exitOk;
}

// The recording's file, the feed with the tail, the healer, freewheel.
// exitOk, or the code of a refusal already written to `errors`.
int prepare(const MeasureOptions& options, const RunLength& length, const ServerFacts& server, RunParts& parts,
            std::ostream& errors)
{
    // The recording runs on past the stimulus and its tail while stretches
    // are played again; it is cut back to the target at the end.
    if (!parts.feed.start(server.rate)
        || !parts.sink.open(options.recording, server.rate, std::numeric_limits<std::int64_t>::max() / 8)) {
        errors << "ravmeasure: "
               << (parts.feed.error.empty() ? "cannot write " + options.recording + ": " + parts.sink.error
                                            : parts.feed.error)
               << std::endl;
        return exitOpen;
    }
    // The tail is played as silence, so that what is played again can follow it.
    parts.feed.add(FeedPiece{-1, length.tailFrames});
    parts.session.tailFrames = parts.feed.resampling ? conversionMargin : 0;
    if (!startHealing(parts.healer, options, parts.session, length.target, length.stimulusFrames, server.latency,
                      server.rate, errors))
        return exitOpen;
    if (options.missFrame >= 0) {
        parts.session.missAt = static_cast<std::int64_t>(double(options.missFrame) * server.rate / sampleRate);
        parts.session.missCycles = options.missCycles;
    }
    // A freewheeling run starts once the server freewheels: a cycle at the
    // pace of the sound card before it could miss its time.
    if (options.freewheel && !parts.session.startFreewheel()) {
        errors << "ravmeasure: " << parts.session.error << "." << std::endl;
        return exitNoServer;
    }
    for (int wait = 0; options.freewheel && !parts.session.freewheeling && wait < 2000; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return exitOk;
}

void showProgress(ProgressShown& progress, const MeasureOptions& options, const RunLength& length,
                  RunParts& parts)
{
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.started).count();
    const double elapsed = double(parts.sink.writer.written) / sampleRate;
    // Stretches played again lengthen the run.
    const double planned = std::max(double(length.target), double(parts.feed.queued)) / sampleRate;
    progress.report.show(now, progressText(elapsed, planned, stepAt(options.schedule, parts.sink.writer.written),
                                           length.stepsKnown ? options.schedule.numSteps : 0, parts.sink.recent[0],
                                           parts.sink.recent[1]));
    parts.sink.recent[0].reset();
    parts.sink.recent[1].reset();
}

// Plays, records and heals until the run ends or is stopped.
RunEnd play(const MeasureOptions& options, const RunLength& length, RunParts& parts, ProgressShown& progress,
            const volatile std::sig_atomic_t& stopRequested)
{
    JackSession& session = parts.session;
    RunEnd end;
    // The rings are filled before the first cycle plays from them.
    std::size_t moved = 0;
    end.readOk = parts.feed.feed(session, moved);
    session.arm();
    progress.started = std::chrono::steady_clock::now();
    // A server that dies without a word stops running cycles: after this
    // long without one the run counts as broken rather than waiting forever.
    constexpr double silentServerSeconds = 5.0;
    std::int64_t lastCycles = -1;
    double lastCycleAt = 0;
    while (end.readOk && end.writeOk && !stopRequested && session.broken == RunBreak::none
           && !(session.finished && session.captureReady() == 0)) {
        std::size_t pushed = 0, took = 0;
        end.readOk = parts.feed.feed(session, pushed);
        if (!parts.healer.take(session) || !parts.healer.review(session, parts.feed))
            session.breakRun(RunBreak::xrun);
        keepPlaying(session, parts.feed);
        if (parts.feed.allPushed())
            session.stimulusEnded = true;
        end.writeOk = parts.sink.drain(session, took);
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.started).count();
        if (progress.report.due(now))
            showProgress(progress, options, length, parts);
        if (session.cycles != lastCycles) {
            lastCycles = session.cycles;
            lastCycleAt = now;
        } else if (now - lastCycleAt > silentServerSeconds) {
            session.breakRun(RunBreak::serverSilent);
        }
        if (pushed == 0 && took == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return end;
}

// Writes the rest of the recording and puts healed stretches in place.
void finish(const MeasureOptions& options, const RunLength& length, RunParts& parts, ProgressShown& progress,
            RunEnd& end)
{
    RecordingSink& sink = parts.sink;
    end.complete = parts.session.finished;
    end.reason = parts.session.broken;
    parts.session.close();
    std::size_t took = 0;
    if (end.writeOk)
        end.writeOk = sink.drain(parts.session, took);
    sink.target = end.complete ? length.target : sink.writer.written;
    end.writeOk = sink.finish(end.complete && end.writeOk) && end.writeOk;
    if (end.complete && end.writeOk
        && !applySplices(sink.output.temporary, parts.healer.splices, length.target, sink.error))
        end.writeOk = false;
    // What was recorded is what the user asked to keep, however the run
    // ended; a run that recorded nothing, or could not write, leaves any
    // earlier recording as it was.
    if (end.writeOk && sink.writer.written > 0 && !sink.keep())
        end.writeOk = false;
    showProgress(progress, options, length, parts);
    progress.report.finish();
}

// The facts on standard output and how the run ended.
int conclude(const MeasureOptions& options, const RunLength& length, const ServerFacts& server,
             const RunParts& parts, const RunEnd& end, std::ostream& facts, std::ostream& errors)
{
    const RecordingSink& sink = parts.sink;
    // Over the digital loopback the run measures its own latency: servers
    // differ in whether a client hears its own output in the same cycle or
    // the next, and in what they report.
    const std::int64_t measured = options.loopback ? parts.session.measuredLatency() : -1;
    writeFacts(facts, parts.session, server.rate, server.period, measured >= 0 ? measured : server.latency, sink,
               healedText(parts.healer, options.schedule, length.stepsKnown, end.complete), options.recording);
    const std::string kept = "kept what was recorded ("
                             + std::to_string(end.complete ? length.target : sink.writer.written) + " frames) in "
                             + options.recording;
    const std::string at = fixedText(double(sink.writer.written) / sampleRate, 1) + " s";
    if (!end.writeOk) {
        errors << "ravmeasure: cannot write " << options.recording << ": " << sink.error << std::endl;
        return exitStreamFailed;
    }
    if (!end.readOk) {
        errors << "ravmeasure: cannot read " << options.stimulus << ": " << parts.feed.error << "; " << kept << "."
               << std::endl;
        return exitStreamFailed;
    }
    if (end.complete)
        return exitOk;
    if (end.reason != RunBreak::none) {
        errors << "ravmeasure: " << breakText(end.reason, at)
               << (parts.healer.failure.empty() ? "" : " and " + parts.healer.failure + ", so it cannot be healed")
               << "; " << kept << ", but its frames no longer count the stimulus's: measure again." << std::endl;
        return exitBroken;
    }
    errors << "ravmeasure: stopped at " << at << " of " << fixedText(double(length.target) / sampleRate, 1) << " s; "
           << kept << "." << std::endl;
    return exitStopped;
}

} // namespace

int runMeasure(int argc, const char* const* argv, std::ostream& facts, std::ostream& errors,
               bool errorsAreTerminal, const volatile std::sig_atomic_t& stopRequested)
{
    int code = exitOk;
    const OptionTable& table = measureOptionTable();
    if (table.helpHandled(argc, argv, facts, code))
        return code;
    MeasureOptions options;
    code = options.read(argc, argv, errors);
    if (code != exitOk)
        return code;
    if (table.outputIsInput(options.stimulus, "the stimulus", options.recording, errors))
        return exitUsage;
    code = options.readMissHook(std::getenv("RAVMEASURE_MISS"), errors);
    if (code != exitOk)
        return code;
    const OutputTarget output = OutputTarget::of(options.recording);
    if (output.kind != OutputTarget::Kind::replaced) {
        errors << "ravmeasure: cannot write " << options.recording << ": "
               << (output.refused() ? output.problem : seekingRefusal) << "." << std::endl;
        return exitOpen;
    }
    RunParts parts;
    RunLength length;
    code = openStimulus(options, parts.feed, length, errors);
    if (code != exitOk)
        return code;
    ServerFacts server;
    code = joinServer(options, length, parts.session, server, errors);
    if (code != exitOk)
        return code;
    code = prepare(options, length, server, parts, errors);
    if (code != exitOk)
        return code;
    ProgressShown progress{ProgressReport{&errors, errorsAreTerminal}, {}};
    RunEnd end = play(options, length, parts, progress, stopRequested);
    finish(options, length, parts, progress, end);
    return conclude(options, length, server, parts, end, facts, errors);
}
