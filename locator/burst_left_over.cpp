#include "burst_left_over.h"

#include "tone_burst.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>

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

// The energy about `mean` of frames [from, to), or not-a-number where the
// ring does not hold them.
double energyAbout(const FrameRing& ring, std::int64_t from, std::int64_t to, double mean)
{
    if (!ring.holds(from, to - 1))
        return NAN;
    double energy = 0;
    for (std::int64_t n = from; n < to; ++n)
        energy += (ring.at(n) - mean) * (ring.at(n) - mean);
    return energy;
}

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
    if (!(windowEnergy > 0))
        return left;

    // The tone model over the burst itself, its terms turned from sample
    // to sample by a rotation rather than a cosine each.
    std::array<Row, terms> normal{};
    Row cross{};
    const std::complex<double> turn1 = std::polar(1.0, shape.omega), turn2 = std::polar(1.0, shape.omega2);
    std::complex<double> at1 = std::polar(1.0, shape.omega * (double(first) - time));
    std::complex<double> at2 = std::polar(1.0, shape.omega2 * (double(first) - time));
    for (std::int64_t n = first; double(n) - time < shape.span; ++n, at1 *= turn1, at2 *= turn2) {
        const Row basis = {at1.real(), at1.imag(), at2.real(), at2.imag(), 1.0};
        const double x = ring.at(n);
        for (int i = 0; i < terms; ++i) {
            cross[i] += basis[i] * x;
            for (int k = 0; k < terms; ++k)
                normal[i][k] += basis[i] * basis[k];
        }
    }
    const Row fitted = solve(normal, cross);
    left.fundamental = std::hypot(fitted[0], fitted[1]) / driveAmplitude;
    // What the fit misses, sample by sample: over the whole burst, and
    // over its inside alone, away from where a converter's filter rings
    // at the burst's ends.
    double missed = 0, missedInside = 0;
    at1 = std::polar(1.0, shape.omega * (double(first) - time));
    at2 = std::polar(1.0, shape.omega2 * (double(first) - time));
    for (std::int64_t n = first; double(n) - time < shape.span; ++n, at1 *= turn1, at2 *= turn2) {
        const double model = fitted[0] * at1.real() + fitted[1] * at1.imag() + fitted[2] * at2.real()
            + fitted[3] * at2.imag() + fitted[4];
        const double miss = (ring.at(n) - model) * (ring.at(n) - model);
        missed += miss;
        const double u = double(n) - time;
        if (u >= BurstLeftOver::edgeFrames && u < shape.span - BurstLeftOver::edgeFrames)
            missedInside += miss;
    }
    left.tone = std::min(missed / windowEnergy, 1.0);
    left.inside = std::min(missedInside / windowEnergy, 1.0);
    left.before = energyAbout(ring, first - BurstLeftOver::edgeFrames, first, mean) / windowEnergy;
    left.after = energyAbout(ring, end, end + BurstLeftOver::edgeFrames, mean) / windowEnergy;
    return left;
}
