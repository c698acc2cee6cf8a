#include "locator/burst_locator.h"

#include "common/units.h"

#include <algorithm>
#include <cmath>

namespace {

// Frames left out between a stretch of silence and the burst after it.
constexpr double guardFrames = 16;
// A burst's window must hold at least 6 dB more power than the silence
// before it, and than any block of the lead-in.
constexpr double gapRatio = 4;
constexpr double leadInRatio = 4;
constexpr double minimumScore = 0.5;

} // namespace

void BurstLocator::start(const StepTable& steps, double inputRate)
{
    table = steps;
    nominalRatio = inputRate / sampleRate;
    BurstSchedule sweep;
    sweep.startFreq = table.steps.empty() ? 100.0 : table.steps.front().nomFreq;
    sweepFromStart = StepTable::from(sweep);
    identifyLead = 0;
    for (std::size_t j = 0; j < std::min(sweepFromStart.steps.size(), identifiedSteps); ++j) {
        BurstShape shape(sweepFromStart.steps[j], nominalRatio);
        // Up to four times as long: the longest burst a heard factor tries.
        identifyLead = std::max<std::int64_t>(identifyLead, 4 * shape.window() + maxFactorReach + 8);
    }
    shapes.clear();
    for (const StepInfo& step : table.steps)
        shapes.emplace_back(step, nominalRatio);
    pushed = 0;
    shifts.clear();
    // Latency up to 10 s and a clock 0.2 % fast, beyond the whole run.
    giveUpAt = static_cast<std::int64_t>((table.playedLength() + 10 * sampleRate) * nominalRatio * 1.002) + 65536;
    for (Channel& channel : channels) {
        channel.tracks.clear();
        channel.confirmed = -1;
        channel.refused = table.bursts() == 0;
        channel.quietFrom = 0;
        channel.lastGuided = -1;
        channel.retriedLoud = false;
        channel.passed.clear();
        channel.result = ChannelBursts();
        channel.ring.reset();
        channel.probe.start(inputRate);
        if (!channel.refused)
            channel.detector.start(shapes.front());
        else
            channel.detector.enabled = false;
    }
}

void BurstLocator::push(const double* interleaved, std::int64_t frames)
{
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channelCount; ++c)
            pushOne(channels[c], interleaved[channelCount * i + c]);
        ++pushed;
        // Tracks are advanced often enough that the ring still holds every
        // window they wait for.
        if (pushed % 1024 == 0)
            for (Channel& channel : channels)
                advanceTracks(channel);
    }
}

void BurstLocator::pushOne(Channel& channel, double sample)
{
    std::int64_t frame = channel.ring.pushed;
    channel.ring.push(sample);
    channel.probe.push(sample);
    if (channel.confirmed >= 0 || channel.refused || frame > giveUpAt)
        return;
    if (!channel.detector.push(channel.ring, frame))
        return;
    std::int64_t proposal = channel.detector.proposal;
    int pending = 0;
    for (const BurstTrack& track : channel.tracks)
        if (track.state == BurstTrack::State::pending) {
            ++pending;
            if (std::llabs(track.proposal - proposal) < channel.detector.length)
                return;
        }
    if (pending >= maxPending)
        return;
    BurstTrack track;
    track.proposal = proposal;
    channel.tracks.push_back(track);
}

int BurstLocator::wideReach(const BurstShape& shape, double trackRatio) const
{
    // Up to a little less than half the interval either way, so that the
    // neighbouring bursts stay out of reach; the ring bounds it too.
    double half = 0.45 * table.interval * trackRatio - shape.window();
    return static_cast<int>(std::max(0.0, std::min(half, double(maxWideReach))));
}

bool BurstLocator::evaluate(Channel& channel, BurstTrack& track)
{
    bool confirmed = track.state == BurstTrack::State::confirmed;
    if (confirmed)
        followShifts(track);
    if (track.next >= table.bursts())
        return false;
    double trackRatio = track.ratio(nominalRatio);
    BurstShape shape(table.stepOf(track.next), trackRatio);
    double onLine = track.predictStart(table, nominalRatio, track.next);
    double predicted = onLine + track.pendingMove;
    int reach = track.reach(table, shape, nominalRatio, track.next);
    // A confirmed track that finds nothing where it expects a burst looks
    // again over most of the interval: the recording may have lost or
    // gained frames. One that tells steps apart looks over all of it.
    int wide = confirmed ? std::max(reach, wideReach(shape, trackRatio)) : reach;
    bool tells = confirmed && canTellStepsApart(track);
    int whole = tells && track.missesInRow < 3 ? std::max(wide, runReach(shape, trackRatio)) : wide;
    std::int64_t first = static_cast<std::int64_t>(std::floor(predicted)) - whole - 2;
    // Its edges are judged too: wait for the frames after it.
    std::int64_t last = static_cast<std::int64_t>(std::ceil(predicted)) + whole + shape.window() + 2
        + BurstLeftOver::edgeFrames;
    // The first hits are also matched against other steps, which may be
    // longer: wait until the longest of them is in.
    if (track.hits.size() < identifiedHits)
        last = std::max(last, static_cast<std::int64_t>(std::ceil(predicted)) + reach + identifyLead);
    if (last >= channel.ring.pushed)
        return false;  // not yet in
    BurstFit fit;
    bool hit = channel.ring.holds(std::max<std::int64_t>(first, 0), last)
        && search(channel, track, shape, predicted, {reach, wide, whole}, trackRatio, fit);
    if (!hit) {
        ++track.missesInRow;
        ++track.next;
        return true;
    }
    std::int64_t heard = tells ? heardBurst(channel, track, fit, trackRatio) : track.next;
    if (heard != track.next || std::fabs(fit.time - predicted) > wide) {
        // The run moved: the other channel is told, and the hit is the
        // burst heard, matched by its own step's shape.
        shifts.push_back(RunShift{track.next, heard - track.next, fit.time - predicted});
        track.shiftsSeen = shifts.size();
        track.jumpAhead = true;
        BurstShape heardShape(table.stepOf(heard), trackRatio);
        int near = static_cast<int>(std::min(heardShape.halfPeriod, 64.0)) + 2;
        if (heard != track.next
            && channel.ring.holds(std::max<std::int64_t>(static_cast<std::int64_t>(fit.time) - near - 2, 0),
                                  static_cast<std::int64_t>(fit.time) + near + heardShape.window() + 2)) {
            shape = heardShape;
            fit = fitBurst(channel.ring, shape, fit.time, near);
        }
        onLine = track.predictStart(table, nominalRatio, heard);
        track.next = heard;
    }
    recordHit(channel, track, shape, fit, onLine);
    ++track.next;
    return true;
}

bool BurstLocator::search(const Channel& channel, BurstTrack& track, const BurstShape& shape, double predicted,
                          const SearchReach& reach, double trackRatio, BurstFit& fit) const
{
    bool hit = tryFit(channel, track, shape, predicted, reach.narrow, trackRatio, fit);
    // Nothing near the expected place, or only a neighbouring cycle of
    // what may be a burst moved by a jump (off the place, or at it where
    // the jump was about a period, matched worse than the track's bursts
    // are): the wide search decides.
    const bool off = !hit || std::fabs(fit.time - predicted) > BurstTrack::jumpFrames;
    const bool worse = hit && track.matchesWorse(fit.score);
    if (reach.wide > reach.narrow && (off || worse)) {
        // A match only worse than the track's gives way to one as good as
        // the track's: where the shape fits no burst of a stretch wholly
        // (near the recorder's half rate) neither is, and the place holds.
        BurstFit far;
        if (tryFit(channel, track, shape, predicted, reach.wide, trackRatio, far) && (!hit || far.score > fit.score)
            && (off || !track.matchesWorse(far.score))) {
            fit = far;
            hit = true;
        }
    }
    // Beyond the wide search only a burst of the generator's shape counts.
    BurstFit farthest;
    if (!hit && reach.whole > reach.wide && tryFit(channel, track, shape, predicted, reach.whole, trackRatio, farthest)
        && farthest.score >= shapeKept) {
        fit = farthest;
        hit = true;
    }
    return hit;
}

void BurstLocator::recordHit(const Channel& channel, BurstTrack& track, const BurstShape& shape, const BurstFit& fit,
                             double onLine)
{
    if (track.hits.empty()) {
        track.firstStart = fit.time;
        track.firstPower = fit.power;
        // The bursts found before it on its confirmation come first, a
        // stretch of their own.
        if (!track.earlier.empty()) {
            const BurstHit& earliest = track.earlier.front();
            track.firstStart = earliest.time - shapes[static_cast<std::size_t>(earliest.burst / table.numAvg)].span / 2;
            track.firstPower = earliest.power;
            track.hits = track.earlier;
            track.earlier.clear();
            track.stretchStart = track.hits.size();
        }
    }
    double trackRatio = track.ratio(nominalRatio);
    BurstHit found = hitFrom(fit, track.next, shape, trackRatio);
    found.leftOver = burstLeftOver(channel.ring, shape, fit.time);
    if (track.hits.size() < identifiedHits) {
        found.playedStep = identifyStep(channel, fit.time, trackRatio, found.playedScore);
        found.heardFrequencyFactor =
            heardFrequencyFactor(channel, table.stepOf(track.next), fit.time, trackRatio, found.fineFactor);
        if (!track.hits.empty() && track.hits.back().burst == track.next - 1) {
            const BurstHit& previous = track.hits.back();
            double span = shapes[static_cast<std::size_t>(previous.burst / table.numAvg)].span;
            found.differenceFromPrevious =
                sampleDifference(channel, previous.time - span / 2, fit.time, std::min(span, shape.span));
        }
    }
    // The line's own prediction, without a move the other channel found:
    // a hit far from it starts a new stretch of the clock.
    track.addHit(found, onLine + shape.span / 2, nominalRatio);
    track.pendingMove = 0;
}

bool BurstLocator::tryFit(const Channel& channel, BurstTrack& track, const BurstShape& shape, double predicted,
                          int reach, double trackRatio, BurstFit& fit) const
{
    fit = fitBurst(channel.ring, shape, predicted, reach);
    bool hit = fit.score >= minimumScore && !fit.atEdge;
    if (hit && track.next == 0 && fit.time < -0.5) {
        track.cut = true;
        return false;
    }
    // The silence before the burst: the second half of the previous
    // repetition, where the schedule leaves room for one.
    double before = table.interval * trackRatio / 2;
    if (hit && track.next > 0 && table.interval > 2 * table.stepOf(track.next - 1).duration + 64) {
        StretchPower gap = channel.ring.powerOver(static_cast<std::int64_t>(fit.time - before),
                                                  static_cast<std::int64_t>(fit.time - guardFrames));
        hit = gap.frames == 0 || fit.power >= gapRatio * gap.variance;
    }
    return hit;
}

int BurstLocator::identifyStep(const Channel& channel, double start, double trackRatio, double& bestScore) const
{
    // The sweep from the run's start frequency holds every step a file
    // made from it can begin with; the best match among its first steps
    // names what was played.
    int best = -1;
    bestScore = -1;
    std::size_t count = std::min<std::size_t>(sweepFromStart.steps.size(), identifiedSteps);
    for (std::size_t j = 0; j < count; ++j) {
        BurstShape shape(sweepFromStart.steps[j], trackRatio);
        int reach = static_cast<int>(std::min(shape.halfPeriod, 64.0)) + 2;
        if (!channel.ring.holds(std::max<std::int64_t>(0, static_cast<std::int64_t>(start) - reach - 2),
                                static_cast<std::int64_t>(start) + reach + shape.window() + 2))
            return -1;
        BurstFit fit = fitBurst(channel.ring, shape, start, reach, 1);
        if (fit.score > bestScore) {
            bestScore = fit.score;
            best = static_cast<int>(j);
        }
    }
    return best;
}

double BurstLocator::heardFrequencyFactor(const Channel& channel, const StepInfo& step, double start,
                                          double trackRatio, double& fine) const
{
    // The frequencies a wrong start frequency or a wrong speed would put
    // there; the step's own wins unless another matches clearly better.
    static constexpr double factors[] = {0.25, 1.0 / 3, 0.4, 0.5, 0.6, 2.0 / 3, 0.75, 0.8, 0.9,
                                         0.95, 1.05,    1.1, 1.25, 1.5, 2.0,    2.5,  3.0, 4.0};
    // Near the step's own frequency a burst that the shape explains all but
    // wholly (a loopback) tells a start frequency 1 % off.
    static constexpr double fineFactors[] = {0.98, 0.99, 1.01, 1.02};
    fine = 1;
    auto scoreAt = [&](double factor, bool wide) { return factorScore(channel, step, start, trackRatio, factor, wide); };
    double ownScore = scoreAt(1.0, false);
    if (ownScore < -1.5)
        return 1;
    double ownLeft = 1 - ownScore * ownScore;
    // A burst the step's own shape explains all but wholly is that step's,
    // or one a percent or two from it.
    if (ownLeft < 0.01) {
        double fineLeft = ownLeft;
        for (double factor : fineFactors) {
            double score = scoreAt(factor, false);
            double left = unexplainedShare(score);
            if (score > ownScore + 1e-4 && left < 0.5 * ownLeft && left < fineLeft) {
                fineLeft = left;
                fine = factor;
            }
        }
        return 1;
    }
    double otherScore = -1, other = 1;
    for (double factor : factors) {
        double score = scoreAt(factor, true);
        if (score < -1.5)
            return 1;
        if (score > otherScore) {
            otherScore = score;
            other = factor;
        }
    }
    if (!(otherScore > ownScore + 0.05))
        return 1;
    // Between the factors tried, in steps of 1 %.
    double best = other, bestScore = otherScore;
    for (int k = -4; k <= 4; ++k) {
        double score = k == 0 ? otherScore : scoreAt(other * (1 + 0.01 * k), true);
        if (score > bestScore) {
            bestScore = score;
            best = other * (1 + 0.01 * k);
        }
    }
    return best;
}

double BurstLocator::factorScore(const Channel& channel, const StepInfo& step, double start, double trackRatio,
                                 double factor, bool wide) const
{
    // A burst of whole cycles at another frequency lasts longer or shorter
    // by the same factor.
    StepInfo heard = step;
    heard.omega = step.omega * factor;
    heard.actFreq = step.actFreq * factor;
    heard.duration = static_cast<std::int32_t>(std::lround(step.duration / factor));
    if (heard.omega >= std::acos(-1.0))
        return -1.0;  // above half the played rate
    // The match of another frequency's shape may lie up to a period of the
    // heard burst away from where that burst starts (`wide`), or, a few
    // percent off, within a few percent of the burst's length.
    BurstShape shape(heard, trackRatio);
    double far = wide ? 2 * shape.halfPeriod : 0.03 * shape.span;
    int reach = static_cast<int>(std::min(far, double(maxFactorReach))) + 2;
    if (!channel.ring.holds(std::max<std::int64_t>(0, static_cast<std::int64_t>(start) - reach - 2),
                            static_cast<std::int64_t>(start) + reach + shape.window() + 2))
        return -2.0;  // not held: nothing can be said
    return fitBurst(channel.ring, shape, start, reach, 1).score;
}

double BurstLocator::sampleDifference(const Channel& channel, double earlier, double later, double span) const
{
    // The same step's bursts are the same samples, whatever the device
    // does to them; a neighbouring step's differ by a few thousandths. The
    // starts come from matches that may be a few frames off: the best of
    // the nearby lags is taken.
    constexpr std::int64_t lags = 8;
    std::int64_t a = static_cast<std::int64_t>(std::llround(earlier));
    std::int64_t b = static_cast<std::int64_t>(std::llround(later));
    std::int64_t length = static_cast<std::int64_t>(span);
    if (length < 8 || !channel.ring.holds(std::max<std::int64_t>(a, 0), b + length + lags) || b - lags < a + length)
        return -1;
    double least = 2;
    for (std::int64_t lag = -lags; lag <= lags; ++lag) {
        double across = 0, first = 0, second = 0;
        for (std::int64_t j = 0; j < length; ++j) {
            double x = channel.ring.at(a + j), y = channel.ring.at(b + lag + j);
            across += x * y;
            first += x * x;
            second += y * y;
        }
        if (first > 0 && second > 0)
            least = std::min(least, 1 - across / std::sqrt(first * second));
    }
    return least > 1 ? -1 : least;
}

void BurstLocator::confirm(Channel& channel, BurstTrack& track)
{
    // The lead-in: from the end of the last proposal that came to nothing
    // up to the first burst. A filter's phase can move the match of a burst
    // by up to half a period from where the burst begins.
    const BurstShape& first = shapes[static_cast<std::size_t>(track.hits.front().burst / table.numAvg)];
    double end = track.firstStart - std::min(first.halfPeriod, first.span) - guardFrames;
    double from = std::max(channel.quietFrom, track.firstStart - double(table.delay) * nominalRatio);
    StretchPower leadIn = channel.ring.powerOver(static_cast<std::int64_t>(std::ceil(from)),
                                                 static_cast<std::int64_t>(end));
    StretchPower whole = channel.ring.powerOver(static_cast<std::int64_t>(std::ceil(channel.quietFrom)),
                                                static_cast<std::int64_t>(end));
    double power = track.firstPower;
    bool quiet = table.delay == 0
        || (leadInRatio * whole.variance <= power && leadInRatio * whole.loudestBlock <= power);
    if (track.guided) {
        // The other channel vouches for the run's start. After the first
        // step, the bursts before this one rise out of the noise step by
        // step: the noise is the silence before this burst.
        if (track.hits.front().burst > 0)
            leadIn = channel.ring.powerOver(
                static_cast<std::int64_t>(track.firstStart - table.interval * nominalRatio / 2),
                static_cast<std::int64_t>(end));
        quiet = true;
    }
    if (!quiet) {
        track.state = BurstTrack::State::dead;
        channel.refused = true;
        channel.result.leadInLoud = true;
        return;
    }
    track.state = BurstTrack::State::confirmed;
    if (!track.guided) {
        fillGaps(channel, track);
        findEarlierBursts(channel, track);
    }
    // Its hits lie on its own line: moves found before its first are in it.
    track.shiftsSeen = static_cast<std::size_t>(std::count_if(shifts.begin(), shifts.end(), [&](const RunShift& shift) {
        return shift.fromBurst <= track.hits.front().burst;
    }));
    channel.confirmed = static_cast<int>(&track - channel.tracks.data());
    // However long the recording ran before playback, the run lasts as
    // long from its first burst.
    giveUpAt = std::max(giveUpAt, static_cast<std::int64_t>(track.firstStart + (table.bursts() + 2.0) * table.interval
                                                                                  * nominalRatio * 1.002) + 65536);
    channel.result.found = true;
    channel.result.firstStart = track.firstStart;
    channel.result.firstPower = track.firstPower;
    channel.result.leadIn = leadIn;
    for (BurstTrack& other : channel.tracks)
        if (&other != &track)
            other.state = BurstTrack::State::dead;
    alignWithOther(channel);
}

BurstHit BurstLocator::hitFrom(const BurstFit& fit, std::int64_t burst, const BurstShape& shape, double ratio) const
{
    BurstHit found;
    found.burst = burst;
    found.played = table.playedOffset(burst) + shape.span / (2 * ratio);
    found.time = fit.time + shape.span / 2;
    found.amplitude = fit.amplitude;
    found.unclipped = fit.unclipped;
    found.fundamentalDelay = fit.fundamentalDelay;
    found.peak = fit.peak;
    found.score = fit.score;
    found.power = fit.power;
    return found;
}

BurstHit BurstLocator::earlierHit(const Channel& channel, std::int64_t burst, const BurstFit& fit) const
{
    const BurstShape& shape = shapes[static_cast<std::size_t>(burst / table.numAvg)];
    BurstHit found = hitFrom(fit, burst, shape, nominalRatio);
    found.leftOver = burstLeftOver(channel.ring, shape, fit.time);
    found.playedStep = identifyStep(channel, fit.time, nominalRatio, found.playedScore);
    found.heardFrequencyFactor =
        heardFrequencyFactor(channel, table.stepOf(burst), fit.time, nominalRatio, found.fineFactor);
    return found;
}

void BurstLocator::takePassedBursts(Channel& channel, BurstTrack& track) const
{
    // Each step of a polar run has the same burst, so a track's first hit
    // tells nothing of which burst it is. A track that found the run's
    // first bursts and then lost them (frames lost or inserted after them,
    // more than its search reached) left them here: those that lie an
    // interval before the track's first, one after another (half an
    // interval either way), are the bursts before it.
    const double interval = table.interval * nominalRatio;
    std::vector<BurstHit> before;
    double next = track.hits.front().time;
    for (;;) {
        auto previous = std::find_if(channel.passed.begin(), channel.passed.end(), [&](const BurstHit& hit) {
            return std::fabs(next - interval - hit.time) <= interval / 2;
        });
        if (previous == channel.passed.end() || before.size() >= channel.passed.size())
            break;
        before.push_back(*previous);
        next = previous->time;
    }
    const std::int64_t late = static_cast<std::int64_t>(before.size());
    if (late == 0 || track.hits.back().burst + late >= table.bursts())
        return;
    for (BurstHit& hit : track.hits) {
        hit.burst += late;
        hit.played += table.playedOffset(late);
    }
    std::int64_t burst = 0;
    for (auto hit = before.rbegin(); hit != before.rend(); ++hit, ++burst) {
        hit->played += table.playedOffset(burst) - table.playedOffset(hit->burst);
        hit->burst = burst;
    }
    track.hits.insert(track.hits.begin(), before.rbegin(), before.rend());
    track.stretchStart += before.size();
    track.next += late;
    const BurstHit& earliest = track.hits.front();
    track.firstStart = earliest.time - shapes[0].span / 2;
    track.firstPower = earliest.power;
    track.proposal = static_cast<std::int64_t>(std::llround(track.firstStart));
}

bool BurstLocator::lookPastEnd(Channel& channel, BurstTrack& track) const
{
    // A polar run's bursts look alike, so a run played twice, the first
    // time stopped after a burst or two, reads like one that lost frames
    // after its first bursts, all but its end: the second playing's last
    // burst lies an interval after the schedule's last.
    const std::int64_t burst = table.bursts();
    const double trackRatio = track.ratio(nominalRatio);
    const BurstShape shape(table.stepOf(burst - 1), trackRatio);
    const double predicted = track.predictStart(table, nominalRatio, burst);
    const int reach = track.reach(table, shape, nominalRatio, burst);
    const std::int64_t first = static_cast<std::int64_t>(std::floor(predicted)) - reach - 2;
    const std::int64_t last = static_cast<std::int64_t>(std::ceil(predicted)) + reach + shape.window() + 2;
    if (last >= channel.ring.pushed)
        return false;
    constexpr double afterScore = 0.99;
    BurstFit fit;
    channel.result.burstAfterRun = channel.ring.holds(std::max<std::int64_t>(first, 0), last)
        && tryFit(channel, track, shape, predicted, reach, trackRatio, fit) && fit.score >= afterScore;
    return true;
}

void BurstLocator::fillGaps(const Channel& channel, BurstTrack& track) const
{
    // A burst the track passed over before it was confirmed (it lay off the
    // line by frames lost or inserted just before it) is looked for half an
    // interval either way of the line, and kept where it is the generator's
    // burst itself.
    constexpr double gapScore = 0.99;
    const int reach = static_cast<int>(table.interval * nominalRatio / 2);
    for (std::size_t i = 1; i < track.hits.size(); ++i) {
        const BurstHit& before = track.hits[i - 1];
        if (track.hits[i].burst != before.burst + 2)
            continue;
        const std::int64_t burst = before.burst + 1;
        const BurstShape& shape = shapes[static_cast<std::size_t>(burst / table.numAvg)];
        const BurstShape& previous = shapes[static_cast<std::size_t>(before.burst / table.numAvg)];
        const double predicted = before.time - previous.span / 2 + table.interval * nominalRatio;
        if (!channel.ring.holds(static_cast<std::int64_t>(predicted) - reach,
                                static_cast<std::int64_t>(predicted + shape.span) + reach))
            continue;
        BurstFit fit = fitBurst(channel.ring, shape, predicted, reach);
        if (fit.score < gapScore || fit.atEdge)
            continue;
        track.hits.insert(track.hits.begin() + static_cast<std::ptrdiff_t>(i), earlierHit(channel, burst, fit));
        if (track.stretchStart >= i)
            ++track.stretchStart;
    }
}

void BurstLocator::findEarlierBursts(Channel& channel, BurstTrack& track)
{
    // A sweep's track taken from its first burst on may have started a few
    // bursts late: frames lost or inserted between the first bursts leave
    // them off its line, and the track from the first one died. The burst
    // an interval before its first (half an interval either way) is looked
    // for as each of the first steps; where one is the generator's burst
    // itself, as a loopback's is, the track is one of the later bursts, and
    // the bursts before it are put in front of its hits. With numAvg 2 or
    // more a step's repetitions look alike: the repetition taken is the one
    // from which the bursts before it, each where the schedule puts it, lead
    // back to the run's first.
    constexpr double earlierScore = 0.99;
    constexpr std::int64_t stepsLooked = 8;
    if (track.hits.empty() || track.hits.front().burst != 0)
        return;
    if (!table.sweep) {
        takePassedBursts(channel, track);
        return;
    }
    const int reach = static_cast<int>(table.interval * nominalRatio / 2);
    // Where the ring no longer holds a place looked at, nothing is known of
    // it: no repetition may be taken for the first for want of it.
    bool unknown = false;
    auto look = [&](std::int64_t burst, double predicted, BurstFit& fit) {
        const BurstShape& shape = shapes[static_cast<std::size_t>(burst / table.numAvg)];
        if (!channel.ring.holds(static_cast<std::int64_t>(predicted) - reach,
                                static_cast<std::int64_t>(predicted + shape.span) + reach)) {
            unknown = true;
            return false;
        }
        fit = fitBurst(channel.ring, shape, predicted, reach);
        return fit.score >= earlierScore && !fit.atEdge && fit.time >= 0;
    };
    double predicted = track.firstStart - table.interval * nominalRatio;
    // The step the burst before the first hit is: the one it matches best.
    std::int64_t step = -1;
    BurstFit best;
    for (std::int64_t s = 0; s < std::min<std::int64_t>(stepsLooked, table.bursts() - 1); ++s) {
        BurstFit fit;
        if (look(s * table.numAvg, predicted, fit) && fit.score > best.score) {
            best = fit;
            step = s;
        }
    }
    if (step < 0)
        return;
    for (std::int64_t before = (step + 1) * table.numAvg - 1; before >= step * table.numAvg; --before) {
        std::vector<BurstHit> earlier{earlierHit(channel, before, best)};
        for (std::int64_t burst = before - 1; burst >= 0; --burst) {
            BurstFit fit;
            if (!look(burst, earlier.back().time - shapes[static_cast<std::size_t>((burst + 1) / table.numAvg)].span / 2
                                 - table.interval * nominalRatio, fit))
                break;
            earlier.push_back(earlierHit(channel, burst, fit));
        }
        if (unknown)
            return;
        // Every burst back to the run's first is there: the track's first
        // hit is burst `before + 1`.
        if (earlier.back().burst == 0) {
            reindex(track, before + 1);
            track.earlier.assign(earlier.rbegin(), earlier.rend());
            return;
        }
    }
}

void BurstLocator::alignWithOther(Channel& channel)
{
    Channel& other = channels[&channel == &channels[0] ? 1 : 0];
    if (other.confirmed < 0 || channel.confirmed < 0)
        return;
    BurstTrack& mine = channel.tracks[static_cast<std::size_t>(channel.confirmed)];
    BurstTrack& theirs = other.tracks[static_cast<std::size_t>(other.confirmed)];
    if (mine.hits.empty() || theirs.hits.empty())
        return;
    // Both channels hear the same bursts, a time of flight apart that is far
    // less than half an interval: a first burst that lies whole intervals
    // after the other channel's is a later burst, the earlier ones lost.
    double spacing = table.interval * nominalRatio;
    double apart = (mine.firstStart - theirs.firstStart) / spacing;
    double whole = std::round(apart);
    if (std::fabs(apart - whole) > 0.25)
        return;
    std::int64_t late = static_cast<std::int64_t>(whole) - (mine.hits.front().burst - theirs.hits.front().burst);
    if (late > 0)
        reindex(mine, late);
    else if (late < 0)
        reindex(theirs, -late);
}

void BurstLocator::reindex(BurstTrack& track, std::int64_t late)
{
    // Its hits were matched against the shapes of the wrong steps: they
    // are looked for again, from its first burst on, as the steps they are.
    std::int64_t first = track.hits.front().burst + late;
    double start = track.firstStart;
    track.hits.clear();
    track.stretchStart = 0;
    track.carriedRatio = 0;
    track.missesInRow = 0;
    track.next = std::min(first, table.bursts());
    track.proposal = static_cast<std::int64_t>(std::llround(start - nominalRatio * table.playedOffset(first)));
}

void BurstLocator::proposeFromOther(Channel& channel)
{
    // A device whose first steps lie in its noise (a tweeter, a band-pass)
    // gives the detector no first burst: once the other channel follows the
    // run, this one is looked for at each burst the other found, as that
    // burst, one proposal at a time.
    // A channel refused for a loud lead-in (a click before the first burst)
    // is looked for again from the other's first burst: the other channel's
    // quiet lead-in vouches for the run's start.
    const Channel& other = channels[&channel == &channels[0] ? 1 : 0];
    const bool retryLoud = channel.refused && channel.result.leadInLoud && !channel.retriedLoud;
    if (channel.confirmed >= 0 || (channel.refused && !retryLoud) || other.confirmed < 0)
        return;
    const BurstTrack& theirs = other.tracks[static_cast<std::size_t>(other.confirmed)];
    if (theirs.hits.empty() || (!retryLoud && theirs.hits.back().burst <= channel.lastGuided))
        return;
    for (const BurstTrack& track : channel.tracks)
        if (track.guided && track.state == BurstTrack::State::pending)
            return;
    if (retryLoud) {
        channel.refused = false;
        channel.retriedLoud = true;
        channel.result.leadInLoud = false;
    }
    const BurstHit& hit = retryLoud ? theirs.hits.front() : theirs.hits.back();
    const BurstShape& shape = shapes[static_cast<std::size_t>(hit.burst / table.numAvg)];
    BurstTrack track;
    track.guided = true;
    track.next = hit.burst;
    track.proposal = static_cast<std::int64_t>(
        std::llround(hit.time - shape.span / 2 - nominalRatio * table.playedOffset(hit.burst)));
    channel.lastGuided = hit.burst;
    channel.tracks.push_back(track);
}

void BurstLocator::advanceTracks(Channel& channel)
{
    proposeFromOther(channel);
    std::int64_t total = table.bursts();
    for (BurstTrack& track : channel.tracks) {
        while (track.state != BurstTrack::State::dead && track.next < total && evaluate(channel, track)) {
            if (track.state != BurstTrack::State::pending)
                continue;
            if (track.cut) {
                channel.result.startsInsideBurst = true;
                track.state = BurstTrack::State::dead;
            } else if (track.missesInRow >= 2 || (track.hits.empty() && track.missesInRow > 0)) {
                track.state = BurstTrack::State::dead;
                channel.quietFrom = std::max(channel.quietFrom,
                                             double(track.proposal) + 2.0 * channel.detector.length);
            } else if (static_cast<std::int64_t>(track.hits.size()) >= std::min<std::int64_t>(confirmations, total)) {
                confirm(channel, track);
                if (channel.refused)
                    return;
            }
        }
        if (track.state == BurstTrack::State::confirmed && track.next >= total && !table.sweep && !track.pastEndLooked)
            track.pastEndLooked = lookPastEnd(channel, track);
    }
    // Drop dead tracks, keeping the confirmed one's index valid, and the
    // bursts they matched as the generator's own.
    if (channel.confirmed < 0) {
        constexpr double passedScore = 0.99;
        for (const BurstTrack& track : channel.tracks)
            if (track.state == BurstTrack::State::dead && !track.guided)
                for (const BurstHit& hit : track.hits)
                    if (hit.score >= passedScore)
                        channel.passed.push_back(hit);
        if (channel.passed.size() > passedKept)
            channel.passed.erase(channel.passed.begin(),
                                 channel.passed.end() - static_cast<std::ptrdiff_t>(passedKept));
        channel.tracks.erase(std::remove_if(channel.tracks.begin(), channel.tracks.end(),
                                            [](const BurstTrack& t) { return t.state == BurstTrack::State::dead; }),
                             channel.tracks.end());
    }
}

bool BurstLocator::done() const
{
    if (pushed > giveUpAt)
        return true;
    for (const Channel& channel : channels) {
        if (channel.refused)
            continue;
        if (channel.confirmed < 0)
            return false;
        const BurstTrack& track = channel.tracks[static_cast<std::size_t>(channel.confirmed)];
        if (track.next < table.bursts() || (!table.sweep && !track.pastEndLooked))
            return false;
    }
    return true;
}

void BurstLocator::finish()
{
    for (Channel& channel : channels) {
        advanceTracks(channel);
        // A short recording may end before a proposal is confirmed: one
        // that missed nothing still counts.
        if (channel.confirmed < 0 && !channel.refused)
            for (BurstTrack& track : channel.tracks)
                if (track.state == BurstTrack::State::pending && !track.hits.empty() && track.missesInRow == 0
                    && !track.cut) {
                    confirm(channel, track);
                    break;
                }
    }
    // Confirming may have sent a track back to bursts it passed.
    for (Channel& channel : channels)
        if (channel.confirmed >= 0) {
            advanceTracks(channel);
            channel.result.hits = channel.tracks[static_cast<std::size_t>(channel.confirmed)].hits;
        }
}
