#include "analyzer/burst_analyzer.h"

#include "common/tone_burst.h"

#include "common/little_endian.h"
#include "common/report_format.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>

namespace {

// A correlation sum with its real and imaginary parts kept apart, so that
// every frame adds s cos(theta) and s sin(theta) in frame order.
struct PhasorSum {
    double re = 0.0;
    double im = 0.0;
};

// The two channels' current sample values; they persist over the frames
// that follow the end of the data.
struct FrameValues {
    std::int16_t s1 = 0;
    std::int16_t s2 = 0;
};

std::int16_t withLowByte(std::int16_t value, unsigned char low)
{
    auto bits = static_cast<std::uint16_t>((static_cast<std::uint16_t>(value) & 0xFF00u) | low);
    return signedFromBits16(bits);
}

// The phasor of frame n: from the step's table, worked out there the first
// time a frame needs it, or afresh beyond the table.
struct PhasorTable {
    double* cosines;
    double* sines;
    std::uint32_t* stamps;
    std::uint32_t stamp;
    std::int64_t size;
    double omega;
    // A frame whose two samples are zero adds +0 or -0 to each sum, which
    // leaves every sum as it was (a sum is never -0: it starts at +0, and
    // x + (-x) is +0). Such frames need no phasor, provided every phasor is
    // finite; 0 * inf or 0 * nan would not vanish.
    bool silenceAddsNothing;

    void at(std::int64_t n, double& c, double& s) const
    {
        const bool inTable = n < size;
        if (inTable && stamps[n] == stamp) {
            c = cosines[n];
            s = sines[n];
            return;
        }
        // The phase is formed from the frame index, not accumulated.
        double theta = omega * static_cast<double>(n);
        c = std::cos(theta);
        s = std::sin(theta);
        if (inTable) {
            cosines[n] = c;
            sines[n] = s;
            stamps[n] = stamp;
        }
    }
};

// Adds the frames of one repetition in [blockStart, blockEnd) that lie in
// [windowBegin, windowEnd). Frames below `readFrames` (relative to
// `blockStart`) come from the block; later ones repeat `held`.
void accumulate(PhasorSum& sum1, PhasorSum& sum2, std::int64_t windowBegin, std::int64_t windowEnd,
                std::int64_t blockStart, std::int64_t blockEnd, std::int64_t readFrames,
                const unsigned char* block, const FrameValues& held, const PhasorTable& phasors)
{
    std::int64_t first = std::max(windowBegin, blockStart);
    std::int64_t last = std::min(windowEnd, blockEnd);
    // The sums are added up in locals: the block's bytes and the phasor
    // table could alias them, which would send every addition to memory.
    PhasorSum a = sum1, b = sum2;
    auto add = [&](std::int64_t n, double s1, double s2) {
        double c, s;
        phasors.at(n, c, s);
        a.re += s1 * c;
        a.im += s1 * s;
        b.re += s2 * c;
        b.im += s2 * s;
    };
    const std::int64_t readEnd = std::max(first, std::min(last, blockStart + readFrames));
    for (std::int64_t n = first; n < readEnd; ++n) {
        const unsigned char* frame = block + 4 * (n - blockStart);
        std::uint32_t bytes;
        std::memcpy(&bytes, frame, sizeof bytes);
        if (bytes != 0 || !phasors.silenceAddsNothing)
            add(n, littleEndian16(frame), littleEndian16(frame + 2));
    }
    if (held.s1 != 0 || held.s2 != 0 || !phasors.silenceAddsNothing)
        for (std::int64_t n = readEnd; n < last; ++n)
            add(n, held.s1, held.s2);
    sum1 = a;
    sum2 = b;
}

double magnitude(const PhasorSum& sum)
{
    return std::abs(std::complex<double>(sum.re, sum.im));
}

// After a read that obtained `obtained` bytes into `frames`: the values the
// reads left in s1 and s2 (the last whole frame's, then what a frame cut
// short obtained).
void holdLastRead(const unsigned char* frames, std::int64_t obtained, FrameValues& held)
{
    std::int64_t readFrames = obtained / 4;
    if (readFrames > 0) {
        held.s1 = littleEndian16(frames + 4 * (readFrames - 1));
        held.s2 = littleEndian16(frames + 4 * (readFrames - 1) + 2);
    }
    const unsigned char* partial = frames + 4 * readFrames;
    switch (obtained % 4) {
    case 1:
        held.s1 = withLowByte(held.s1, partial[0]);
        break;
    case 2:
        held.s1 = littleEndian16(partial);
        break;
    case 3:
        held.s1 = littleEndian16(partial);
        held.s2 = withLowByte(held.s2, partial[2]);
        break;
    default:
        break;
    }
}

// The ten values from the four sums, scaled so that the generator's own
// burst reads 1.
BurstMeasurement measurementOf(PhasorSum signal1, PhasorSum signal2, PhasorSum background1, PhasorSum background2,
                               const BurstSchedule& schedule)
{
    const double scale = static_cast<double>(std::int64_t(schedule.duration) * schedule.numAvg) * analyzerScale;
    for (PhasorSum* sum : {&signal1, &signal2, &background1, &background2}) {
        sum->re /= scale;
        sum->im /= scale;
    }
    BurstMeasurement m;
    m.abs1 = magnitude(signal1);
    m.abs2 = magnitude(signal2);
    m.dB1 = 20.0 * std::log10(m.abs1);
    m.dB2 = 20.0 * std::log10(m.abs2);
    m.dBDiff = 20.0 * std::log10(m.abs1 / m.abs2);
    m.phase1 = std::atan2(signal1.im, signal1.re);
    m.phase2 = std::atan2(signal2.im, signal2.re);
    m.phaseDiff = m.phase1 - m.phase2;
    m.bkg1 = 20.0 * std::log10(magnitude(background1));
    m.bkg2 = 20.0 * std::log10(magnitude(background2));
    return m;
}

} // namespace

void BurstAnalyzer::measureStep(const BurstSchedule& schedule, std::istream& in, std::ostream& report)
{
    PhasorSum signal1, signal2, background1, background2;
    FrameValues held;
    const std::int64_t interval = schedule.interval;
    const std::int64_t duration = schedule.duration;
    const std::int64_t backgroundBegin = interval - 2 * duration;
    const std::int64_t backgroundEnd = interval - duration;
    // A polar run's steps all share one burst: its phasors are worked out
    // once for the run.
    if (schedule.omega != preparedOmega || duration != preparedDuration || interval != preparedInterval)
        renewPhasors(schedule);
    // The table pays where a burst is measured again: over a step's
    // repetitions and over a polar run's steps. A sweep step measured once
    // uses each phasor once, so it works them out on the spot.
    const bool measuredAgain = schedule.numAvg > 1 || !schedule.sweep;
    if (measuredAgain && !phasorStamp) {
        phasorCos = zeroedArray<double>(maxInterval);
        phasorSin = zeroedArray<double>(maxInterval);
        phasorStamp = zeroedArray<std::uint32_t>(maxInterval);
    }
    const PhasorTable phasors{phasorCos.get(), phasorSin.get(), phasorStamp.get(), stamp,
                              measuredAgain ? maxInterval : 0, schedule.omega,
                              std::isfinite(schedule.omega * static_cast<double>(std::max<std::int64_t>(interval, 1)))};

    // The repetition cut where a window begins or ends, so that each piece
    // lies wholly inside a window or wholly outside both.
    std::int64_t cuts[] = {0, duration, backgroundBegin, backgroundEnd, interval};
    for (std::int64_t& cut : cuts)
        cut = std::clamp<std::int64_t>(cut, 0, interval);
    std::sort(std::begin(cuts), std::end(cuts));
    auto inWindow = [&](std::int64_t first, std::int64_t last) {
        return (first < duration && last > 0) || (first < backgroundEnd && last > backgroundBegin);
    };

    for (std::int32_t repetition = 0; repetition < schedule.numAvg; ++repetition)
        for (std::size_t piece = 0; piece + 1 < std::size(cuts); ++piece)
            for (std::int64_t start = cuts[piece]; start < cuts[piece + 1]; start += blockFrames) {
                std::int64_t count = std::min<std::int64_t>(blockFrames, cuts[piece + 1] - start);
                if (!inWindow(start, start + count) && seekPast(count * 4, in))
                    continue;
                std::int64_t obtained = readBlock(count * 4, in);
                std::int64_t readFrames = obtained / 4;
                const unsigned char* frames = block.get();
                holdLastRead(frames, obtained, held);
                std::int64_t end = start + count;
                accumulate(signal1, signal2, 0, duration, start, end, readFrames, frames, held, phasors);
                accumulate(background1, background2, backgroundBegin, backgroundEnd, start, end, readFrames, frames,
                           held, phasors);
            }

    measurementOf(signal1, signal2, background1, background2, schedule).print(report);
}

void BurstAnalyzer::renewPhasors(const BurstSchedule& schedule)
{
    if (++stamp == 0) {
        // After 2^32 bursts the stamps come round again: clear them once.
        if (phasorStamp)
            std::fill(phasorStamp.get(), phasorStamp.get() + maxInterval, 0u);
        stamp = 1;
    }
    preparedOmega = schedule.omega;
    preparedDuration = schedule.duration;
    preparedInterval = schedule.interval;
}

void BurstAnalyzer::probe(std::istream& in)
{
    canSeek = false;
    if (!in.good())
        return;
    const std::streampos here = in.tellg();
    if (here == std::streampos(-1) || !in.seekg(0, std::ios::end)) {
        in.clear();   // a stream that cannot seek is read as it comes
        return;
    }
    const std::streampos end = in.tellg();
    if (end == std::streampos(-1) || !in.seekg(here)) {
        in.clear();
        in.seekg(here);
        return;
    }
    position = here;
    dataEnd = end;
    canSeek = true;
}

bool BurstAnalyzer::seekPast(std::int64_t bytes, std::istream& in)
{
    // Two frames at least stay after the skip: whatever later reads obtain
    // first comes after it, so the held values are never taken from frames
    // that were skipped.
    // A short gap is cheaper read than sought: the stream's buffer mostly
    // holds it already, and a seek drops that buffer.
    constexpr std::int64_t shortestSeek = 32768;
    if (!canSeek || bytes < shortestSeek || !in.good() || position + bytes + 8 > dataEnd)
        return false;
    if (!in.seekg(bytes, std::ios::cur)) {
        canSeek = false;
        return false;
    }
    position += bytes;
    return true;
}

std::int64_t BurstAnalyzer::readBlock(std::int64_t bytes, std::istream& in)
{
    // On a stream that has already failed this only sets fail again, as
    // each of the frame's 2-byte reads would.
    in.read(reinterpret_cast<char*>(block.get()), static_cast<std::streamsize>(bytes));
    std::int64_t obtained = in.gcount();
    position += obtained;
    return obtained;
}

void BurstAnalyzer::skipFrames(std::int64_t frames, std::istream& in)
{
    while (frames > 0 && in.good()) {
        std::int64_t count = std::min<std::int64_t>(frames, blockFrames);
        if (!seekPast(count * 4, in))
            readBlock(count * 4, in);
        frames -= count;
    }
    if (frames > 0)
        in.setstate(std::ios::failbit);
}

void BurstMeasurement::print(std::ostream& report) const
{
    const double values[] = {abs1, abs2, dB1, dB2, dBDiff, phase1, phase2, phaseDiff, bkg1, bkg2};
    RowText row;
    for (double value : values) {
        if (row.length > 0)
            row.addTab();
        row.addReal(value);
    }
    row.writeTo(report);
    report << std::endl;
}
