#include "locator/burst_left_over.h"

#include "common/kaiser_sinc.h"
#include "common/tone_burst.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr int terms = 5;  // cos and sin of the fundamental and the harmonic, and a constant
using Row = std::array<double, terms>;

// Solves the normal equations `a` x = `b` by elimination with pivoting;
// terms whose pivot vanishes (a harmonic that falls on the fundamental or
// on the constant) are left at 0.
Row solve(std::array<Row, terms> a, Row b)
{
    Row x{};
    std::array<bool, terms> used{};
    double scale = 0;
    for (int i = 0; i < terms; ++i)
        scale = std::max(scale, a[i][i]);
    for (int col = 0; col < terms; ++col) {
        int pivot = col;
        for (int r = col + 1; r < terms; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (!(std::fabs(a[pivot][col]) > 1e-9 * scale))
            continue;
        std::swap(a[pivot], a[col]);
        std::swap(b[pivot], b[col]);
        used[col] = true;
        for (int r = 0; r < terms; ++r) {
            if (r == col || a[r][col] == 0)
                continue;
            double f = a[r][col] / a[col][col];
            for (int k = col; k < terms; ++k)
                a[r][k] -= f * a[col][k];
            b[r] -= f * b[col];
        }
    }
    for (int i = 0; i < terms; ++i)
        x[i] = used[i] ? b[i] / a[i][i] : 0;
    return x;
}

// The band-limited interpolation an ideal converter joins the generator's
// samples with: a Kaiser-windowed sinc reaching `reach` frames each side,
// read off a table at 1/512 of a frame. The ringing of a burst's ends lies
// near the half rate and dies slowly: a sinc cut at 32 frames leaves 50
// times more of the top step unexplained than one cut at 64.
struct Interpolation {
    static constexpr int reach = 64;
    static constexpr int steps = 512;
    static constexpr double beta = 10;
    std::vector<double> table;

    Interpolation() : table(static_cast<std::size_t>(2 * reach * steps + 2))
    {
        for (std::size_t i = 0; i < table.size(); ++i)
            table[i] = kaiserSinc(double(i) / steps - reach, reach, beta);
    }

    double at(double x) const
    {
        const double place = (x + reach) * steps;
        const std::size_t below = static_cast<std::size_t>(place);
        if (place < 0 || below + 1 >= table.size())
            return 0;
        const double part = place - double(below);
        return table[below] + part * (table[below + 1] - table[below]);
    }
};

// Where the fundamental turns this fast (radians per played frame, about
// 2 kHz) a converter's ringing at the burst's ends shows: the terms are
// then the generator's gated tones as the converter plays them.
constexpr double ringingOmega = 0.3;

// The tone's terms over frames [from, to): cos and sin of the fundamental
// and of the harmonic, within the burst, and a constant. Where the steps
// are high enough for a converter to ring, each term is its gated tone
// through the band-limited interpolation, worked out once per frame.
struct ToneTerms {
    std::int64_t from;
    std::vector<Row> rows;

    ToneTerms(const BurstShape& shape, double time, std::int64_t first, std::int64_t to) : from(first)
    {
        rows.resize(static_cast<std::size_t>(to - first));
        const double played = shape.omega * shape.scale, played2 = shape.omega2 * shape.scale;
        if (played < ringingOmega || shape.duration <= 0) {
            const std::complex<double> turn1 = std::polar(1.0, shape.omega), turn2 = std::polar(1.0, shape.omega2);
            std::complex<double> at1 = std::polar(1.0, shape.omega * (double(first) - time));
            std::complex<double> at2 = std::polar(1.0, shape.omega2 * (double(first) - time));
            for (std::size_t j = 0; j < rows.size(); ++j, at1 *= turn1, at2 *= turn2) {
                const double u = double(first) + double(j) - time;
                const bool inside = u >= 0 && u < shape.span;
                rows[j] = {inside ? at1.real() : 0, inside ? at1.imag() : 0, inside ? at2.real() : 0,
                           inside ? at2.imag() : 0, 1.0};
            }
            return;
        }
        static const Interpolation interpolation;
        std::vector<Row> gated(static_cast<std::size_t>(shape.duration));
        for (std::int32_t k = 0; k < shape.duration; ++k)
            gated[static_cast<std::size_t>(k)] = {std::cos(played * k), std::sin(played * k), std::cos(played2 * k),
                                                  std::sin(played2 * k), 0.0};
        // A recorder below the player's rate keeps only its own band, as its
        // converter's filter does: the sinc is widened to its half rate.
        const double band = std::min(1.0, shape.scale);
        const double reach = Interpolation::reach / band;
        for (std::size_t j = 0; j < rows.size(); ++j) {
            const double tau = (double(first) + double(j) - time) / shape.scale;
            Row row{0, 0, 0, 0, 1.0};
            const double low = std::max(0.0, std::ceil(tau - reach));
            const double high = std::min(double(shape.duration) - 1, std::floor(tau + reach));
            for (double k = low; k <= high; ++k) {
                const double w = band * interpolation.at(band * (tau - k));
                const Row& g = gated[static_cast<std::size_t>(k)];
                for (int i = 0; i < 4; ++i)
                    row[i] += w * g[i];
            }
            rows[j] = row;
        }
    }

    const Row& at(std::int64_t n) const { return rows[static_cast<std::size_t>(n - from)]; }
};

} // namespace

BurstLeftOver burstLeftOver(const FrameRing& ring, const BurstShape& shape, double time)
{
    BurstLeftOver left;
    const std::int64_t first = static_cast<std::int64_t>(std::ceil(time));
    const std::int64_t end = first + shape.window() - 1;
    double sum = 0, squares = 0;
    for (std::int64_t n = first; n < end; ++n) {
        sum += ring.at(n);
        squares += ring.at(n) * ring.at(n);
    }
    const double mean = sum / double(end - first);
    const double windowEnergy = squares - sum * mean;
    const std::int64_t from = first - BurstLeftOver::edgeFrames, to = end + BurstLeftOver::edgeFrames;
    if (!(windowEnergy > 0) || !ring.holds(from, to - 1))
        return left;

    // The tone's terms at every frame from the edge before to the edge
    // after, fitted over the burst's own frames.
    const ToneTerms tone(shape, time, from, to);
    std::array<Row, terms> normal{};
    Row cross{};
    for (std::int64_t n = first; double(n) - time < shape.span; ++n) {
        const Row basis = tone.at(n);
        const double x = ring.at(n);
        for (int i = 0; i < terms; ++i) {
            cross[i] += basis[i] * x;
            for (int k = 0; k < terms; ++k)
                normal[i][k] += basis[i] * basis[k];
        }
    }
    const Row fitted = solve(normal, cross);
    left.fundamental = std::hypot(fitted[0], fitted[1]) / driveAmplitude;
    // What the fit misses, frame by frame: over the burst, over its inside
    // alone, and over each edge.
    double missed = 0, missedInside = 0, before = 0, after = 0;
    for (std::int64_t n = from; n < to; ++n) {
        const Row basis = tone.at(n);
        double model = 0;
        for (int i = 0; i < terms; ++i)
            model += fitted[i] * basis[i];
        const double miss = (ring.at(n) - model) * (ring.at(n) - model);
        const double u = double(n) - time;
        if (n < first)
            before += miss;
        else if (n >= end)
            after += miss;
        if (u < 0 || u >= shape.span)
            continue;
        missed += miss;
        if (u >= BurstLeftOver::edgeFrames && u < shape.span - BurstLeftOver::edgeFrames)
            missedInside += miss;
    }
    left.tone = std::min(missed / windowEnergy, 1.0);
    left.inside = std::min(missedInside / windowEnergy, 1.0);
    left.before = before / windowEnergy;
    left.after = after / windowEnergy;
    return left;
}
