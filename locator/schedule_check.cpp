#include "locator/schedule_check.h"

#include "common/units.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double generatorShape = 0.98;
// A match's level says how loud a burst is only where its shape is the
// burst's (a harmonic near a recorder's half rate makes it neither).
constexpr double wellMatched = 0.99;

Finding found(FindingKind kind, double frequency = 0)
{
    Finding finding;
    finding.kind = kind;
    finding.frequency = frequency;
    return finding;
}

int channelToJudge(const TimingSolution& timing)
{
    if (timing.reference >= 0)
        return timing.reference;
    return timing.channels[0].found ? 0 : 1;
}

// The channel the clock came from.
int clockChannelOf(const TimingSolution& timing)
{
    return timing.clockChannel >= 0 ? timing.clockChannel : channelToJudge(timing);
}

// The first bursts of the clock's channel carry another frequency than
// the arguments' steps, all by one factor: another start frequency.
// How many bursts each step holds, from how alike neighbouring bursts are
// on channel `c` (a step's repetitions are the same samples; neighbouring
// steps differ): the largest period of two or more whose every pair within
// it is at least three times as alike as every pair across it. 0 when none
// shows clearly (in noise, or where neighbouring steps are too alike).
int repeatsHeard(const BurstLocator& locator, int c)
{
    std::vector<std::pair<std::int64_t, double>> pairs;  // later burst, unlikeness
    for (const BurstHit& hit : locator.channel(c).hits)
        if (hit.differenceFromPrevious >= 0 && pairs.size() < BurstLocator::identifiedHits)
            pairs.emplace_back(hit.burst, hit.differenceFromPrevious);
    if (pairs.size() < 6)
        return 0;
    for (int period = 8; period >= 2; --period)
        for (int phase = 0; phase < period; ++phase) {
            double within = 0, across = 1e300;
            bool anyAcross = false, anyWithin = false;
            for (const auto& pair : pairs) {
                if ((pair.first + phase) % period == 0) {
                    across = std::min(across, pair.second);
                    anyAcross = true;
                } else {
                    within = std::max(within, pair.second);
                    anyWithin = true;
                }
            }
            if (anyAcross && anyWithin && across > 1e-4 && across > 3 * within)
                return period;
        }
    return 0;
}

// The start frequency a user most likely typed near `frequency`: a round
// value (1, 1.5, 2, 2.5, 3 ... 9 times a power of ten) within 3 %, or two
// significant digits.
double likelyStart(double frequency)
{
    double decade = std::pow(10.0, std::floor(std::log10(frequency)));
    for (double m : {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0})
        if (std::fabs(frequency / (m * decade) - 1) <= 0.03)
            return m * decade;
    return std::round(frequency / decade * 10) * decade / 10;
}

std::optional<Finding> heardElsewhere(const BurstLocator& locator, const TimingSolution& timing)
{
    const StepTable& table = locator.table;
    int c = clockChannelOf(timing);
    // Each of the first bursts names a start frequency: a burst k steps into
    // a sweep from A Hz is (A / B)^(1 - k / 200) times that of a sweep from
    // B Hz (a polar run's, A / B). The fine factor only on a loopback, whose
    // bursts keep the generator's shape: a device's filters bend a burst's
    // frequency.
    double given = table.steps.front().nomFreq;
    double last = table.steps.back().nomFreq;
    double span = double(table.steps.size()) - 1;
    std::vector<double> starts, factors;
    for (const BurstHit& hit : locator.channel(c).hits) {
        if (starts.size() >= BurstLocator::identifiedHits)
            break;
        double factor =
            hit.heardFrequencyFactor == 1.0 && timing.reference == c ? hit.fineFactor : hit.heardFrequencyFactor;
        factors.push_back(factor);
        double k = double(hit.burst / table.numAvg);
        double power = table.sweep && given != last && span > k ? span / (span - k) : 1;
        starts.push_back(given * std::pow(factor, power));
    }
    if (starts.size() < 6)
        return std::nullopt;
    std::sort(starts.begin(), starts.end());
    double start = starts[starts.size() / 2];
    std::size_t agreeing = static_cast<std::size_t>(std::count_if(
        starts.begin(), starts.end(), [&](double f) { return std::fabs(f / start - 1) <= 0.03; }));
    if (std::fabs(start / given - 1) < 0.005 || 4 * agreeing < 3 * starts.size()
        || std::fabs(likelyStart(start) / given - 1) < 0.005)
        return std::nullopt;
    // Bursts a whole number of steps above the arguments' are a recording
    // that started late, which the checks below name.
    if (table.sweep && table.steps.size() > 1) {
        double stepRatio = table.steps[1].nomFreq / table.steps[0].nomFreq;
        std::sort(factors.begin(), factors.end());
        double late = std::log(factors[factors.size() / 2]) / std::log(stepRatio);
        if (late > 0.5 && std::fabs(late - std::round(late)) < 0.15)
            return std::nullopt;
    }
    double heard = likelyStart(start);
    if (!table.sweep && std::fabs(start / given - 0.5) < 0.01)
        return found(FindingKind::harmonicTaken, heard);
    return found(table.sweep ? FindingKind::otherStart : FindingKind::otherFrequency, heard);
}

// The usual recording rate within 1 % of `rate`, or `rate` to three digits.
double likelyRate(double rate)
{
    for (double usual : {8000.0, 11025.0, 16000.0, 22050.0, 24000.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0,
                         176400.0, 192000.0, 352800.0, 384000.0})
        if (std::fabs(rate / usual - 1) < 0.01)
            return usual;
    char text[64];
    std::snprintf(text, sizeof text, "%.3g", rate);
    return std::strtod(text, nullptr);
}

// Each step holds `repeats` bursts, where the arguments give numAvg.
Finding repeatsFinding(const StepTable& table, int repeats)
{
    Finding finding = found(FindingKind::repeatsDiffer);
    finding.repeats = repeats;
    finding.spacing = double(repeats) * table.interval;
    finding.expectedSpacing = double(table.numAvg) * table.interval;
    return finding;
}

// Whether the bursts found on some channel come at the schedule's spacing,
// step after step: then a first spacing that differs is frames lost or
// inserted between the first bursts, not a recording at another speed.
bool scheduleSpacingHeld(const BurstLocator& locator)
{
    const double expected = locator.table.interval * locator.nominalRatio;
    for (int c = 0; c < BurstLocator::channelCount; ++c) {
        const std::vector<BurstHit>& hits = locator.channel(c).hits;
        std::vector<double> spacings;
        for (std::size_t i = 1; i < hits.size(); ++i)
            if (hits[i].burst == hits[i - 1].burst + 1)  // a track that skips bursts says nothing of their spacing
                spacings.push_back(hits[i].time - hits[i - 1].time);
        if (spacings.size() < 10)
            continue;
        std::nth_element(spacings.begin(), spacings.begin() + static_cast<std::ptrdiff_t>(spacings.size() / 2),
                         spacings.end());
        if (std::fabs(spacings[spacings.size() / 2] / expected - 1) < 0.002)
            return true;
    }
    return false;
}

} // namespace

std::optional<Finding> speedFinding(const BurstLocator& locator, double inputRate)
{
    const StepTable& table = locator.table;
    if (table.steps.empty() || scheduleSpacingHeld(locator))
        return std::nullopt;
    double expected = table.interval * locator.nominalRatio;
    double expectedLength = table.steps.front().duration * locator.nominalRatio;
    for (int c = 0; c < BurstLocator::channelCount; ++c) {
        double spacing = double(locator.eventSpacing(c));
        double length = double(locator.eventLength(c));
        if (spacing <= 0 || length <= 0)
            continue;
        // The first burst is measured to a block of the probe: a quarter
        // of its length either way is allowed.
        double stretch = spacing / expected;
        if (std::fabs(stretch - 1) > 0.02 && std::fabs(length / expectedLength / stretch - 1) < 0.25) {
            Finding finding = found(FindingKind::wrongSpeed);
            finding.spacing = spacing;
            finding.length = length;
            finding.expectedSpacing = expected;
            finding.expectedLength = expectedLength;
            finding.speed = 1 / stretch;
            finding.fileRate = inputRate;
            finding.madeAt = likelyRate(inputRate * stretch);
            return finding;
        }
    }
    return std::nullopt;
}

namespace {

// No burst of the run found, or the first found well after a run of sounds
// at the run's spacing but another frequency (a sweep that reached the
// arguments' start frequency only later): the first sound's frequency.
std::optional<Finding> firstSoundElsewhere(const BurstLocator& locator, const TimingSolution& timing)
{
    const StepTable& table = locator.table;
    for (int c = 0; c < BurstLocator::channelCount; ++c) {
        double spacing = table.interval * locator.nominalRatio;
        bool earlierRun = timing.channels[c].found && locator.eventSpacing(c) > 0
            && std::fabs(double(locator.eventSpacing(c)) / spacing - 1) < 0.02
            && timing.channels[c].arrival - double(locator.eventStart(c)) > 1.5 * spacing;
        if (timing.anyFound() && !earlierRun)
            continue;
        double heard = locator.eventFrequency(c);
        double first = table.steps.empty() ? 0 : table.steps.front().actFreq;
        if (heard > 0 && std::fabs(heard / first - 1) > 0.1)
            return found(FindingKind::firstBurstElsewhere, heard);
    }
    return std::nullopt;
}

// The first hits of the channel whose first bursts match some step of a
// sweep from the start frequency best, with the median of those matches.
// Only bursts that keep the generator's shape can be named among
// neighbouring steps; a device's filters blur them.
std::vector<const BurstHit*> bestNamed(const BurstLocator& locator, double& bestShape)
{
    std::vector<const BurstHit*> named;
    bestShape = 0;
    for (int c = 0; c < BurstLocator::channelCount; ++c) {
        std::vector<const BurstHit*> own;
        std::vector<double> scores;
        for (const BurstHit& hit : locator.channel(c).hits)
            if (hit.playedStep >= 0) {
                own.push_back(&hit);
                scores.push_back(hit.playedScore);
            }
        std::sort(scores.begin(), scores.end());
        double shape = scores.empty() ? 0 : scores[scores.size() / 2];
        if (shape > bestShape) {
            bestShape = shape;
            named = own;
        }
    }
    return named;
}

// What the steps the first bursts were named as say: a polar run, a sweep,
// another numAvg, or a recording that started after the first step.
std::optional<Finding> namedStepsFinding(const BurstLocator& locator)
{
    const StepTable& table = locator.table;
    double bestShape = 0;
    std::vector<const BurstHit*> named = bestNamed(locator, bestShape);
    const StepTable& sweep = locator.sweepFromStart;
    // Neighbouring steps of a falling sweep differ too little to be told apart.
    bool distinct = sweep.steps.size() > 1 && sweep.steps[1].nomFreq / sweep.steps[0].nomFreq > 1.005;
    if (!distinct || bestShape < generatorShape || named.size() < 4)
        return std::nullopt;
    int first = named.front()->playedStep;
    std::int64_t repeats = 0;  // bursts played before the step changed
    bool changed = false;
    for (const BurstHit* hit : named) {
        if (hit->playedStep != first) {
            // Per step advanced: a burst missed between (lost to frames
            // lost or inserted) does not make the steps repeat.
            repeats = hit->burst - named.front()->burst;
            const std::int64_t advanced = hit->playedStep - first;
            if (advanced > 1 && repeats % advanced == 0)
                repeats /= advanced;
            changed = true;
            break;
        }
    }
    // Whether the steps follow on each other, as far as a clipped or noisy
    // burst lets itself be named: most of them must. A polar run's bursts
    // come every 44100 frames: a sweep's schedule finds them only at every
    // other burst.
    std::size_t following = 0, everyOther = 0, otherStep = 0;
    for (const BurstHit* hit : named)
        otherStep += hit->playedStep != first;
    for (std::size_t i = 1; i < named.size(); ++i) {
        int advance = named[i]->playedStep - named[i - 1]->playedStep;
        following += advance >= 0 && advance <= named[i]->burst - named[i - 1]->burst;
        everyOther += named[i]->burst - named[i - 1]->burst == 2;
    }
    bool steady = 4 * following >= 3 * (named.size() - 1);
    double heard = sweep.steps[static_cast<std::size_t>(first)].nomFreq;
    if (table.sweep && table.interval == 22050 && 2 * everyOther > named.size())
        return found(FindingKind::polarSpacing);
    if (2 * following < named.size() - 1)
        return found(FindingKind::notFollowing, heard);
    if (!changed && table.sweep && named.back()->burst - named.front()->burst >= table.numAvg)
        return found(FindingKind::allOneFrequency, heard);
    // A polar run's bursts rise only where most of them are named as later
    // steps: one burst cut short by a dropout looks like another step.
    if (changed && !table.sweep && 2 * otherStep > named.size())
        return found(FindingKind::risingFrequency, heard);
    if (table.sweep && steady && changed && repeats != table.numAvg && repeats > 0)
        return repeatsFinding(table, static_cast<int>(repeats));
    if (table.sweep && first > 0) {
        // A recording that holds a whole step's spacing of quiet before the
        // first burst found did not start after the first step: that burst,
        // named by its shape, is bent by a filter, or the steps before it
        // lie in the noise.
        const BurstHit& earliest = *named.front();
        const double quietBefore = earliest.time
            - locator.nominalRatio * (earliest.played - table.playedOffset(earliest.burst));
        bool heldBefore = quietBefore >= locator.nominalRatio * double(table.numAvg) * table.interval;
        Finding finding = found(heldBefore ? FindingKind::firstStepsUnheard : FindingKind::startedLate, heard);
        finding.step = first;
        finding.seconds = quietBefore / locator.nominalRatio / sampleRate;
        return finding;
    }
    return std::nullopt;
}

// Where channel `c` holds the last burst's start: on the last segment's
// line, which frames lost or inserted on the way move.
double lastBurstStart(const BurstLocator& locator, const TimingSolution& timing, int c)
{
    const StepTable& table = locator.table;
    std::int64_t lastBurst = table.bursts() - 1;
    return timing.segments.empty() ? timing.channels[c].arrival + timing.ratio * table.playedOffset(lastBurst)
                                   : timing.inputFrame(c, lastBurst, table.playedOffset(lastBurst));
}

// The last burst must be in the recording.
std::optional<Finding> endsEarly(const BurstLocator& locator, const TimingSolution& timing, double inputFrames,
                                 double inputRate)
{
    const StepTable& table = locator.table;
    int judgedChannel = channelToJudge(timing);
    const ChannelTiming& judged = timing.channels[judgedChannel];
    double needed = lastBurstStart(locator, timing, judgedChannel) + timing.ratio * table.steps.back().duration;
    if (inputFrames >= needed)
        return std::nullopt;
    double stepFrames = timing.ratio * double(table.numAvg) * table.interval;
    long step = static_cast<long>(std::floor((inputFrames - judged.arrival) / stepFrames)) + 1;
    step = std::max(1L, std::min<long>(step, static_cast<long>(table.steps.size())));
    Finding finding = found(FindingKind::endsEarly);
    finding.step = step - 1;
    finding.steps = static_cast<std::int64_t>(table.steps.size());
    finding.seconds = (needed - inputFrames) / inputRate;
    return finding;
}

} // namespace

std::optional<Finding> scheduleFinding(const BurstLocator& locator, const TimingSolution& timing, double inputFrames,
                                       double inputRate)
{
    if (std::optional<Finding> speed = speedFinding(locator, inputRate))
        return speed;
    if (std::optional<Finding> elsewhere = firstSoundElsewhere(locator, timing))
        return elsewhere;
    if (!timing.anyFound())
        return std::nullopt;
    // Repetitions told by their samples, on the channel the clock comes
    // from, where the generator's shape cannot name the steps (a lone
    // microphone's filtered bursts).
    const StepTable& table = locator.table;
    int repeats = table.sweep ? repeatsHeard(locator, clockChannelOf(timing)) : 0;
    if (repeats > 0 && repeats != table.numAvg)
        return repeatsFinding(table, repeats);
    if (std::optional<Finding> heard = heardElsewhere(locator, timing))
        return heard;
    if (std::optional<Finding> named = namedStepsFinding(locator))
        return named;
    if (std::optional<Finding> ended = endsEarly(locator, timing, inputFrames, inputRate))
        return ended;
    // A polar run's steps are one burst: a recording that lost whole steps
    // looks like the run, one step short at its end, where the recording
    // holds half an interval of silence or more.
    if (table.sweep || timing.reference < 0 || timing.segments.empty())
        return std::nullopt;
    if (locator.channel(timing.reference).burstAfterRun)
        return found(FindingKind::burstAfterRun);
    const std::vector<BurstHit>& loopback = locator.channel(timing.reference).hits;
    if (!loopback.empty() && loopback.back().burst < table.bursts() - 1
        && inputFrames > lastBurstStart(locator, timing, timing.reference) + 0.5 * timing.ratio * table.interval)
        return found(FindingKind::lastBurstMissing);
    return std::nullopt;
}

namespace {

// A channel that clips (with the cut in level that the samples that did
// not clip ask for) or whose bursts stand barely above its noise.
void levelFindings(const BurstLocator& locator, const TimingSolution& timing, int c, std::vector<Finding>& findings)
{
    const StepTable& table = locator.table;
    const BurstHit* firstClipped = nullptr;
    double loudest = 0;
    for (const BurstHit& hit : locator.channel(c).hits) {
        if (hit.peak >= clipLevel && firstClipped == nullptr)
            firstClipped = &hit;
        loudest = std::max(loudest, std::fabs(hit.unclipped) * 24000);
    }
    if (firstClipped != nullptr) {
        Finding finding = found(FindingKind::clipped, table.stepOf(firstClipped->burst).nomFreq);
        finding.channel = c;
        finding.step = firstClipped->burst / table.numAvg;
        finding.decibels = std::max(1.0, std::ceil(20 * std::log10(std::max(loudest, double(largestCode16)) / largestCode16) + 1));
        findings.push_back(finding);
    }
    if (timing.channels[c].levelAboveNoise < 20) {
        Finding finding = found(FindingKind::weak);
        finding.channel = c;
        finding.decibels = timing.channels[c].levelAboveNoise;
        findings.push_back(finding);
    }
}

} // namespace

std::vector<Finding> recordingFindings(const BurstLocator& locator, const TimingSolution& timing, bool referenceNone)
{
    std::vector<Finding> findings;
    const StepTable& table = locator.table;
    for (int c = 0; c < BurstLocator::channelCount; ++c)
        if (timing.channels[c].found)
            levelFindings(locator, timing, c, findings);
    int device = timing.reference < 0 ? -1 : 1 - timing.reference;
    if (timing.reference == 0 && timing.channels[1].found)
        findings.push_back(found(FindingKind::loopbackOnFirst));
    if (timing.reference < 0 && !referenceNone)
        findings.push_back(found(FindingKind::noLoopback));
    if (timing.reference >= 0) {
        double low = 1e300, high = -1e300;
        // Only the bursts the recording carries whole and well matched: on
        // the clock's lines, and below 0.4 times its rate where a
        // recorder's own anti-alias filter begins to fall.
        for (const BurstHit& hit : locator.channel(timing.reference).hits) {
            if (timing.isOffLine(hit.burst) || table.stepOf(hit.burst).actFreq > 0.4 * sampleRate * locator.nominalRatio
                || hit.score < wellMatched)
                continue;
            double level = 20 * std::log10(std::max(std::fabs(hit.amplitude), 1e-12));
            low = std::min(low, level);
            high = std::max(high, level);
        }
        if (high - low > 0.5) {
            Finding finding = found(FindingKind::loopbackVaries);
            finding.channel = timing.reference;
            finding.decibels = high - low;
            findings.push_back(finding);
        }
    }
    if (device >= 0 && timing.channels[device].found && timing.channels[device].polarity < 0
        && timing.channels[device].polaritySure) {
        Finding finding = found(FindingKind::inverted);
        finding.channel = device;
        findings.push_back(finding);
    }
    return findings;
}
