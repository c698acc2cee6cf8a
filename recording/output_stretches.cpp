#include "recording/timed_recording.h"

#include "locator/step_table.h"

#include <algorithm>
#include <cmath>

namespace {

// An arrival within this of a whole frame is read without a fractional
// shift: a thousandth of a frame turns a 20 kHz step by 0.003 rad, and a
// clean take's arrival is measured to about a ten-thousandth.
constexpr double wholeFrameTolerance = 0.001;

// The recording frames around a cut of the clock's lines, per output
// channel: where the first burst found after the earlier line's last
// begins, where the last found before the later line's first ends, and the
// lag each channel is read with.
struct CutBursts {
    double nextStart[2] = {0, 0};
    double lastEnd[2] = {0, 0};
    double lag[2] = {0, 0};
};

// The lag output channel `c` is read with: that of the channel `lagOf[c]`
// names, or of the other where that one has no bursts.
double readingLag(const TimingSolution& timing, const int (&lagOf)[2], int c)
{
    return timing.lag[timing.channels[lagOf[c]].found ? lagOf[c] : 1 - lagOf[c]];
}

// Where the output passes from one segment's stretch to the next's. Near
// a jump neither line holds the recording: past the frames lost, the
// earlier stretch reads frames that belong later, and before them the
// later one reads frames that belong earlier. Each keeps to the silence
// between the bursts: the earlier one ends before it would read the next
// burst found in the recording (on the later line or off every line), the
// later one begins after the last burst found before its first has ended;
// where a loss leaves no frame that either may read, the frames between
// are silence.
struct Seam {
    std::int64_t earlierEnds = 0;
    std::int64_t laterBegins = 0;
};

// A later stretch begins a little before its first burst, after every
// window of the burst before it; a stretch's converters reach this far past
// the frames they write.
constexpr double burstMargin = 32;
constexpr double converterReach = 64;

Seam seamBetween(const StepTable& table, const ClockSegment& before, const ClockSegment& after, const CutBursts& cut,
                 std::int64_t frames)
{
    const double firstPlayed = table.playedOffset(after.firstBurst);
    const std::int64_t usual = std::min<std::int64_t>(frames, table.delay + static_cast<std::int64_t>(firstPlayed)
                                                                  - static_cast<std::int64_t>(burstMargin));
    const double lastEnd = table.playedOffset(before.lastBurst) + table.stepOf(before.lastBurst).duration;
    // The played frames up to which the earlier line stays short of the
    // next burst, and from which the later line stays past the last one.
    double earlierSafe = firstPlayed, laterSafe = lastEnd;
    for (int c = 0; c < 2; ++c) {
        earlierSafe = std::min(earlierSafe, (cut.nextStart[c] - cut.lag[c] - burstMargin - converterReach
                                             - before.offset) / before.ratio);
        laterSafe = std::max(laterSafe, (cut.lastEnd[c] - cut.lag[c] + converterReach - after.offset) / after.ratio);
    }
    Seam seam;
    seam.earlierEnds = std::clamp<std::int64_t>(table.delay + static_cast<std::int64_t>(std::floor(earlierSafe)),
                                                table.delay + static_cast<std::int64_t>(std::ceil(lastEnd)), usual);
    // Where both lines may read the frames between, the later one takes
    // them from where the earlier one must stop.
    seam.laterBegins = std::clamp<std::int64_t>(table.delay + static_cast<std::int64_t>(std::ceil(laterSafe)),
                                                seam.earlierEnds, usual);
    return seam;
}

// The bursts around the cut before segment `k` (from 1), as the stretches
// read them.
CutBursts cutBursts(const BurstLocator& locator, const TimingSolution& timing, std::size_t k,
                    const int (&lagOf)[2])
{
    const StepTable& table = locator.table;
    const ClockSegment& before = timing.segments[k - 1];
    const ClockSegment& after = timing.segments[k];
    CutBursts cut;
    for (int c = 0; c < 2; ++c) {
        cut.lag[c] = readingLag(timing, lagOf, c);
        const double earlierEnd = before.at(table.playedOffset(before.lastBurst)
                                            + table.stepOf(before.lastBurst).duration) + cut.lag[c];
        const double laterStart = after.at(table.playedOffset(after.firstBurst)) + cut.lag[c];
        cut.nextStart[c] = laterStart;
        cut.lastEnd[c] = earlierEnd;
        // The bursts between the lines' last and first lie where the later
        // line puts them if they came after the jump, and where the earlier
        // one does if before it: each place the recording can hold them
        // bounds what the other line may read.
        for (std::int64_t b = before.lastBurst + 1; b < after.firstBurst; ++b) {
            const double onLater = after.at(table.playedOffset(b)) + cut.lag[c];
            const double onEarlier = before.at(table.playedOffset(b) + table.stepOf(b).duration) + cut.lag[c];
            if (onLater > earlierEnd)
                cut.nextStart[c] = std::min(cut.nextStart[c], onLater);
            if (onEarlier < laterStart)
                cut.lastEnd[c] = std::max(cut.lastEnd[c], onEarlier);
        }
        // So do the bursts found, on a line or off every line.
        for (const BurstHit& hit : locator.channel(c).hits) {
            const double span = locator.shapes[static_cast<std::size_t>(hit.burst / table.numAvg)].span;
            const double start = hit.time - span / 2;
            const double end = start + table.stepOf(hit.burst).duration * locator.nominalRatio;
            if (hit.burst > before.lastBurst && start > earlierEnd)
                cut.nextStart[c] = std::min(cut.nextStart[c], start);
            if (hit.burst < after.firstBurst && end < laterStart)
                cut.lastEnd[c] = std::max(cut.lastEnd[c], end);
        }
    }
    return cut;
}

} // namespace

std::vector<OutputStretch> TimedRecording::stretches(const int (&lagOf)[2]) const
{
    const bool resample = needsResampling();
    const StepTable& table = locator->table;
    const std::int64_t frames = static_cast<std::int64_t>(table.playedLength());
    // A stretch of segment `k` from output frame `first` on.
    auto stretchOf = [&](std::size_t k, std::int64_t first) {
        const ClockSegment& segment = timing.segments[k];
        OutputStretch stretch;
        stretch.firstFrame = first;
        stretch.ratio = resample ? segment.ratio : 1.0;
        for (int c = 0; c < 2; ++c) {
            const double lag = readingLag(timing, lagOf, c);
            double played = double(first - table.delay);
            double start = resample ? segment.at(played) + lag : segment.offset + lag + played;
            if (!resample && std::fabs(start - std::round(start)) < wholeFrameTolerance)
                start = std::round(start);
            stretch.start[c] = start;
        }
        return stretch;
    };
    std::vector<OutputStretch> stretches{stretchOf(0, 0)};
    for (std::size_t k = 1; k < timing.segments.size(); ++k) {
        const Seam seam = seamBetween(table, timing.segments[k - 1], timing.segments[k],
                                      cutBursts(*locator, timing, k, lagOf), frames);
        stretches.back().endFrame = seam.earlierEnds;
        if (seam.laterBegins > seam.earlierEnds) {
            OutputStretch silence;
            silence.silent = true;
            silence.firstFrame = seam.earlierEnds;
            silence.endFrame = seam.laterBegins;
            stretches.push_back(silence);
        }
        stretches.push_back(stretchOf(k, seam.laterBegins));
    }
    stretches.back().endFrame = frames;
    // A stretch that the next one begins before (bursts one frame apart)
    // gives way to it.
    stretches.erase(std::remove_if(stretches.begin(), stretches.end(),
                                   [](const OutputStretch& s) { return s.endFrame <= s.firstFrame; }),
                    stretches.end());
    // Frames of the output: enough for the schedule, as far as the
    // recording reaches.
    const OutputStretch& last = stretches.back();
    std::int64_t reach = 0;
    for (double start : last.start)
        reach = std::max(reach, last.firstFrame
                                    + static_cast<std::int64_t>(std::floor((double(file.frames) - 1 - start)
                                                                           / last.ratio)) + 1);
    std::int64_t end = std::max<std::int64_t>(0, std::min(frames, reach));
    for (OutputStretch& stretch : stretches) {
        stretch.firstFrame = std::min(stretch.firstFrame, end);
        stretch.endFrame = std::min(stretch.endFrame, end);
    }
    return stretches;
}
