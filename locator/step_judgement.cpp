#include "locator/step_judgement.h"

#include "common/tone_burst.h"
#include "common/units.h"
#include "locator/cubic_middle.h"
#include "locator/median.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

// Neighbours looked at on each side of a device's burst.
constexpr std::int64_t neighbourhood = 3;
// A neighbour counts as strong this far above the lead-in's noise.
constexpr double strongOverNoise = 100;
constexpr double strongScore = 0.8;
// A step whose stimulus reads less than this carries nothing to miss.
constexpr double carriedLevel = 0.1;
// How far a burst's level may leave its neighbours' (a device's response
// changes from step to step; a loopback's does not), and the least share
// of a burst its shape may leave unexplained before it counts as damage:
// beside neighbours it explains all but wholly, a share of u in a burst of
// N frames moves its level by up to about 2.5 sqrt(u / N) (one sample
// struck: 1e-5 moves a 100-frame burst 0.005 dB); where the left-over
// takes a course of its own, against that course.
constexpr double loopbackLevelDb = 0.1;
constexpr double deviceLevelDb = 1.0;
constexpr double departureFloor = 1e-5;
constexpr double unexplainedFloor = 1e-3;
constexpr double wellExplained = 1e-4;
// A match leaves about the noise's share of its window unexplained; up to
// this many times that, the shape explains all the rest.
constexpr double noiseLeftOver = 3;
// An edge of 16 frames that holds only noise lies below six times the
// noise's share but once in about 1e13.
constexpr double edgeNoise = 6;
// Edges that hold less than this of their burst's energy beyond the
// model are quiet: what a converter's filter leaves, not a device's onset.
constexpr double quietEdge = 1e-3;
// What a recorder's own filter leaves inside a loopback's bursts (the
// model plays them through an ideal converter and band, not the
// recorder's own filter) changes with where each burst falls between two samples and grows
// towards the top: from one step to the next by up to about 4 times the
// largest of its neighbours'.
constexpr double insideRise = 8;

void markBurst(StepVerdict& verdict, const StepTable& table, int c, std::int64_t burst)
{
    if (burst >= 0 && burst < table.bursts())
        verdict.damaged[c][static_cast<std::size_t>(burst / table.numAvg)] = 1;
}

// What ravan reads of the generator's own burst of `step`: next to
// nothing where the second harmonic's alias falls on the fundamental.
double stimulusLevel(const StepInfo& step)
{
    double re = 0, im = 0;
    for (std::int32_t n = 0; n < step.duration; ++n) {
        double sample = toneBurstSample(n, step.omega);
        re += sample * std::cos(step.omega * n);
        im += sample * std::sin(step.omega * n);
    }
    return std::hypot(re, im) / (analyzerScale * std::max(1, step.duration));
}

// Whether the shape that matched `burst` holds the second harmonic.
bool holdsHarmonic(const BurstLocator& locator, std::int64_t burst)
{
    return locator.shapes[static_cast<std::size_t>(burst / locator.table.numAvg)].harmonic != 0;
}

// Below the player's rate a recorder's own filter cuts near its half rate,
// each recorder its own way. A burst whose harmonic, with the sidebands of
// its gate, lies on that edge is explained only as well as the model
// guesses the filter: what it leaves is neither judged nor a neighbour's
// measure, and its level alone is held to its neighbours'.
bool onRecorderEdge(const BurstLocator& locator, std::int64_t burst)
{
    if (locator.nominalRatio >= 1)
        return false;
    const StepInfo& step = locator.table.stepOf(burst);
    const double halfRate = sampleRate * locator.nominalRatio / 2;
    const double sidebands = 2 * sampleRate / std::max(1, step.duration);
    return std::fabs(2 * step.actFreq - halfRate) < sidebands;
}

// What a burst's match leaves unexplained: on a `flat` channel (a
// loopback) what the tone at free amplitudes and phases leaves, which a
// recorder's filter on the harmonic or a converter's ringing does not
// raise; elsewhere the lesser of that and what the shape leaves (a
// device's filters shape its onset, which the tone leaves unexplained).
double leftOver(const BurstHit& hit, bool flat)
{
    return flat ? hit.leftOver.tone : std::min(unexplainedShare(hit.score), hit.leftOver.tone);
}

// Whether what lies just before or just after a burst's window stands out
// of its neighbours' (a sample struck, a stretch overwritten next to the
// burst: the aligned file's interpolation carries it into the burst's
// frames): judged only where the tone explains the burst and its
// neighbours all but wholly and the neighbours' edges hold no more than
// their noise or a thousandth of their burst, since a device's onset or
// ringing fills its edges differently from step to step; a device's
// against neighbours matched with a shape like its own, whose matches
// place the onset alike.
bool edgesDepart(const BurstLocator& locator, const std::map<std::int64_t, const BurstHit*>& byBurst,
                 std::int64_t burst, double noise, bool flat)
{
    const BurstHit& hit = *byBurst.at(burst);
    // Only where the tone explains the burst all but wholly is its match
    // placed well enough to tell its edges from its own ends.
    if (hit.leftOver.tone > quietEdge || onRecorderEdge(locator, burst))
        return false;
    // The noise's share of an edge, for a burst of `power` per frame.
    auto noiseShare = [&](const BurstHit& h) {
        const double frames = locator.shapes[static_cast<std::size_t>(h.burst / locator.table.numAvg)].window() - 1;
        return noise * BurstLeftOver::edgeFrames / std::max(h.power * frames, 1e-300);
    };
    for (double BurstLeftOver::*edge : {&BurstLeftOver::before, &BurstLeftOver::after}) {
        const double own = hit.leftOver.*edge;
        if (!std::isfinite(own))
            continue;
        double usual = 0, quiet = quietEdge;
        int like = 0;
        for (std::int64_t k = -neighbourhood; k <= neighbourhood; ++k) {
            auto near = byBurst.find(burst + k);
            if (k == 0 || near == byBurst.end() || !std::isfinite(near->second->leftOver.*edge)
                || onRecorderEdge(locator, burst + k)
                || (!flat && holdsHarmonic(locator, burst + k) != holdsHarmonic(locator, burst)))
                continue;
            if (near->second->leftOver.tone > quietEdge)
                return false;
            usual = std::max(usual, near->second->leftOver.*edge);
            quiet = std::max(quiet, edgeNoise * noiseShare(*near->second));
            ++like;
        }
        if (like >= 2 && usual <= quiet && own > 4 * usual + edgeNoise * noiseShare(hit) + departureFloor)
            return true;
    }
    return false;
}

// Whether a burst's match departs from its neighbours' (the closest one
// each side within three bursts that is matched with a shape like its
// own, a second harmonic or not): its level off theirs by more than
// `levelDb`, or the part of it left unexplained (`leftOver`: a click, a
// dropout, a sample that went wrong) four times the larger of theirs.
// A device's only where the shape explains the neighbours all but wholly,
// or all but their channel's noise (`noise` per frame): where it does not
// (a device's filters) the left-over changes from step to step. A burst
// matched a cycle away keeps both. A `flat` channel (a loopback) is judged
// by its tone, whatever the harmonic, also where a converter's ringing
// leaves some of every burst: what the tone leaves inside the burst, away
// from the ringing, `insideRise` times its neighbours' at most, and its
// fundamental's level held to the median of its neighbours', to a decibel.
bool departs(const BurstLocator& locator, const std::map<std::int64_t, const BurstHit*>& byBurst,
             std::int64_t burst, double levelDb, double noise, bool flat)
{
    const BurstHit& hit = *byBurst.at(burst);
    // A device's burst matched with another shape than its neighbours' (the
    // top step, whose harmonic the shape leaves out) is compared by its
    // tone, as a flat channel's is, which does not depend on the shape.
    std::size_t likeShaped = 0;
    for (std::int64_t k = -neighbourhood; k <= neighbourhood; ++k)
        likeShaped += k != 0 && byBurst.count(burst + k) != 0
            && holdsHarmonic(locator, burst + k) == holdsHarmonic(locator, burst);
    const bool byTone = flat || likeShaped < 2;
    // Such a device's match places its burst's ends differently from its
    // neighbours', so only the burst's inside is compared.
    const bool insideOnly = byTone && !flat;
    auto unexplained = [byTone, insideOnly](const BurstHit& h) {
        return insideOnly ? h.leftOver.inside : leftOver(h, byTone);
    };
    auto level = [byTone](const BurstHit& h) {
        const double tone = h.leftOver.fundamental;
        return 20 * std::log10(std::max(byTone && tone > 0 ? tone : std::fabs(h.amplitude), 1e-12));
    };
    std::vector<const BurstHit*> nearest;
    std::vector<double> levels;
    double usual = 0, usualInside = 0, noiseShare = 0;
    std::size_t like = 0;
    for (int side : {-1, 1}) {
        bool taken = false;
        for (std::int64_t k = 1; k <= neighbourhood; ++k) {
            auto near = byBurst.find(burst + side * k);
            if (near == byBurst.end() || onRecorderEdge(locator, burst + side * k)
                || (!byTone && holdsHarmonic(locator, burst + side * k) != holdsHarmonic(locator, burst)))
                continue;
            usual = std::max(usual, unexplained(*near->second));
            usualInside = std::max(usualInside, near->second->leftOver.inside);
            noiseShare = std::max(noiseShare, noise / std::max(near->second->power, 1e-300));
            levels.push_back(level(*near->second));
            ++like;
            if (!taken)
                nearest.push_back(near->second);
            taken = true;
        }
    }
    if (like < 2)
        return false;
    // A device's level from its nearest neighbour on each side (its slope);
    // a flat channel's from all of them, so that one damaged neighbour does
    // not move it.
    double expected = 0;
    for (const BurstHit* near : nearest)
        expected += level(*near) / double(nearest.size());
    if (flat)
        expected = median(levels);
    const double off = std::fabs(level(hit) - expected);
    if (onRecorderEdge(locator, burst))
        return off > levelDb;
    // Where the neighbours are left unexplained (a converter's ringing, or
    // what a recorder at a lower rate keeps of each burst, differs from
    // step to step), a flat channel's level wanders by tenths of a decibel.
    const bool standsOut = unexplained(hit) > (insideOnly ? insideRise : 4) * usual + departureFloor
        || (flat && hit.leftOver.inside > insideRise * usualInside + departureFloor);
    if (usual >= wellExplained && usual > noiseLeftOver * noiseShare)
        return flat && (standsOut || off > deviceLevelDb);
    return standsOut || off > levelDb;
}

// Whether the part of a burst that its shape leaves unexplained stands out
// of the smooth course its two neighbours on each side give it by more than
// the largest of theirs: a device's filters (or, on a loopback, the top
// steps' harmonics) change that part slowly from step to step, a dropout
// or a click inside the burst at once.
bool bendsAway(const BurstLocator& locator, const std::map<std::int64_t, const BurstHit*>& byBurst,
               std::int64_t burst, bool flat)
{
    // Where the recording does not carry the second harmonic cleanly (near
    // or above its half rate), that part changes from step to step anyway.
    if (2 * locator.table.stepOf(burst).actFreq > 0.4 * sampleRate * locator.nominalRatio)
        return false;
    double left[5];
    for (std::int64_t k = -2; k <= 2; ++k) {
        auto near = byBurst.find(burst + k);
        if (near == byBurst.end() || holdsHarmonic(locator, burst + k) != holdsHarmonic(locator, burst))
            return false;
        left[k + 2] = leftOver(*near->second, flat);
    }
    double course = cubicMiddle(left[0], left[1], left[3], left[4]);
    double largest = std::max({left[0], left[1], left[3], left[4], unexplainedFloor});
    // A device's left-over may also change its level at one step and keep
    // it (a room's reflection against a burst whose length changes), which
    // overshoots the course by up to about the new level.
    return left[2] - course > (flat ? 1 : 2) * largest;
}

// A device channel: its bursts missing between strong neighbours where
// the stimulus carries one (`levels`, per step), or departing from their
// neighbours or from the course they set.
void judgeDevice(const BurstLocator& locator, const TimingSolution& timing, int c, const std::vector<double>& levels,
                 StepVerdict& verdict)
{
    const StepTable& table = locator.table;
    const ChannelBursts& bursts = locator.channel(c);
    std::map<std::int64_t, const BurstHit*> byBurst;
    for (const BurstHit& hit : bursts.hits)
        byBurst[hit.burst] = &hit;
    const double noise = bursts.noise();
    // A burst well above the noise is judged however badly its shape
    // matches: where the neighbours' match well, a poor one is damage.
    auto loud = [&](const BurstHit& hit) { return hit.power >= strongOverNoise * noise; };
    auto strong = [&](std::int64_t burst) {
        auto found = byBurst.find(burst);
        return found != byBurst.end() && found->second->score >= strongScore
            && found->second->power >= strongOverNoise * noise;
    };
    for (std::int64_t burst = 0; burst < table.bursts(); ++burst) {
        auto found = byBurst.find(burst);
        // At either end of the run, the side that has no bursts counts as strong.
        bool before = burst < neighbourhood, after = burst + neighbourhood >= table.bursts();
        for (std::int64_t k = 1; k <= neighbourhood; ++k) {
            before = before || strong(burst - k);
            after = after || strong(burst + k);
        }
        // A channel whose bursts stand less than 30 dB clear of its noise
        // misses some of them to the noise, not to damage.
        if (found == byBurst.end()) {
            if (before && after && timing.channels[c].levelAboveNoise >= 30
                && levels[static_cast<std::size_t>(burst / table.numAvg)] >= carriedLevel)
                markBurst(verdict, table, c, burst);
        } else if (loud(*found->second) && (departs(locator, byBurst, burst, deviceLevelDb, noise, false)
                                             || bendsAway(locator, byBurst, burst, false)
                                             || edgesDepart(locator, byBurst, burst, noise, false))) {
            markBurst(verdict, table, c, burst);
        }
    }
}

// The loopback: every burst the stimulus carries must be there, on its
// line, or its step is damaged.
void judgeLoopback(const BurstLocator& locator, const TimingSolution& timing, const std::vector<double>& levels,
                   StepVerdict& verdict)
{
    const StepTable& table = locator.table;
    std::map<std::int64_t, const BurstHit*> byBurst;
    for (const BurstHit& hit : locator.channel(timing.reference).hits)
        byBurst[hit.burst] = &hit;
    const double noise = locator.channel(timing.reference).noise();
    auto damage = [&](std::int64_t burst) {
        for (int c = 0; c < BurstLocator::channelCount; ++c)
            markBurst(verdict, table, c, burst);
    };
    for (std::int64_t burst = 0; burst < table.bursts(); ++burst)
        if (byBurst.count(burst) == 0 && levels[static_cast<std::size_t>(burst / table.numAvg)] >= carriedLevel)
            damage(burst);
    // Every burst there is judged against its neighbours (their levels,
    // and what the shape leaves unexplained: at the top steps the shape
    // leaves some of every burst, so there against the course it takes),
    // and against its line: one the line does not place, beyond what its
    // noise allows, is not explained (frames lost inside it, or just before
    // the last step with no later one to show the jump), whatever it matched.
    for (const auto& entry : byBurst) {
        bool off = timing.isOffLine(entry.first);
        if (departs(locator, byBurst, entry.first, loopbackLevelDb, noise, true)
            || bendsAway(locator, byBurst, entry.first, true) || edgesDepart(locator, byBurst, entry.first, noise, true)
            || (off && (byBurst.size() < 2 || unexplainedDeparture(locator, timing, *entry.second) > 0))) {
            damage(entry.first);
            if (!off)
                verdict.clockDamage.push_back(entry.first);
        }
    }
}

} // namespace

double highestCarried(double inputRate)
{
    return inputRate < sampleRate ? carriedShare * inputRate : std::numeric_limits<double>::infinity();
}

std::vector<std::int64_t> StepVerdict::damagedSteps(int c) const
{
    std::vector<std::int64_t> steps;
    for (std::size_t s = 0; s < damaged[c].size(); ++s)
        if (damaged[c][s])
            steps.push_back(static_cast<std::int64_t>(s));
    return steps;
}

StepVerdict judgeSteps(const BurstLocator& locator, const TimingSolution& timing, double inputRate,
                       const std::vector<std::int64_t> (&nonfinite)[BurstLocator::channelCount])
{
    const StepTable& table = locator.table;
    StepVerdict verdict;
    for (auto& steps : verdict.damaged)
        steps.assign(table.steps.size(), 0);
    if (!timing.anyFound() || timing.segments.empty())
        return verdict;
    const int count = BurstLocator::channelCount;
    for (std::size_t s = 0; s < table.steps.size(); ++s)
        if (table.steps[s].actFreq > highestCarried(inputRate))
            for (int c = 0; c < count; ++c)
                verdict.damaged[c][s] = 1;

    std::vector<double> levels(table.steps.size());
    for (std::size_t s = 0; s < table.steps.size(); ++s)
        levels[s] = stimulusLevel(table.steps[s]);
    if (timing.reference >= 0)
        judgeLoopback(locator, timing, levels, verdict);
    for (int c = 0; c < count; ++c)
        if (c != timing.reference && timing.channels[c].found)
            judgeDevice(locator, timing, c, levels, verdict);

    for (int c = 0; c < count; ++c)
        for (std::int64_t frame : nonfinite[c]) {
            // The burst whose interval holds the frame, on either line near it.
            double played = 0;
            for (const ClockSegment& segment : timing.segments) {
                played = (double(frame) - segment.offset - timing.lag[c]) / segment.ratio;
                if (played < table.playedOffset(segment.lastBurst + 1))
                    break;
            }
            if (played >= 0)
                markBurst(verdict, table, c, static_cast<std::int64_t>(std::floor(played / table.interval)));
        }

    for (std::size_t k = 1; k < timing.segments.size(); ++k) {
        const ClockSegment& before = timing.segments[k - 1];
        const ClockSegment& after = timing.segments[k];
        double lastPlayed = table.playedOffset(before.lastBurst);
        double firstPlayed = table.playedOffset(after.firstBurst);
        ClockJump jump;
        jump.step = after.firstBurst / table.numAvg;
        jump.frames = jumpBetween(before, after, lastPlayed, firstPlayed);
        jump.inputFrame = after.at(firstPlayed);
        jump.fromFrame = before.at(lastPlayed + table.stepOf(before.lastBurst).duration);
        // A damaged step just before the jump may hold the change itself (a
        // whole burst of a repeated step lost): it came after the burst
        // before that step.
        const std::int64_t previous = jump.step - 1;
        if (previous >= 0 && (verdict.damaged[0][static_cast<std::size_t>(previous)] != 0
                              || verdict.damaged[1][static_cast<std::size_t>(previous)] != 0)) {
            const std::int64_t last = previous * table.numAvg - 1;
            jump.fromFrame = std::min(jump.fromFrame,
                                      before.at(last < 0 ? 0.0 : table.playedOffset(last) + table.stepOf(last).duration));
        }
        if (std::fabs(jump.frames) >= 0.05)
            verdict.jumps.push_back(jump);
    }
    return verdict;
}
