#include "recording/fractional_delay.h"

#include "common/kaiser_sinc.h"

#include <cmath>
#include <cstring>

namespace {

// Kaiser window shape; 9 puts its side lobes near -90 dB, far below what
// the passband up to 20 kHz can show.
constexpr double beta = 9.0;

} // namespace

void FractionalDelay::start(double advance)
{
    const double half = taps / 2;
    double total = 0;
    for (int k = 0; k < taps; ++k) {
        // Tap k weighs input frame j + (k - half + 1), this far from the
        // wanted instant j + advance.
        weights[k] = kaiserSinc(k - half + 1 - advance, half, beta);
        total += weights[k];
    }
    // Unity gain at 0 Hz.
    for (double& weight : weights)
        weight /= total;
}

void FractionalDelay::apply(const double* input, std::size_t count, double* output) const
{
    // One sum's additions wait for each other; eight sums at once, in
    // pairs, keep the processor busy meanwhile. A pair is a vector of two
    // doubles (a GCC and Clang extension, two lanes on any target): each
    // lane adds exactly what at() adds, in the same order.
    typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
    auto load = [](const double* from) {
        Pair pair;
        std::memcpy(&pair, from, sizeof pair);
        return pair;
    };
    std::size_t j = 0;
    for (; j + 8 <= count; j += 8) {
        Pair a = {0, 0}, b = {0, 0}, c = {0, 0}, d = {0, 0};
        const double* from = input + j;
        for (int k = 0; k < taps; ++k, ++from) {
            const Pair weight = {weights[k], weights[k]};
            a += weight * load(from);
            b += weight * load(from + 2);
            c += weight * load(from + 4);
            d += weight * load(from + 6);
        }
        std::memcpy(output + j, &a, sizeof a);
        std::memcpy(output + j + 2, &b, sizeof b);
        std::memcpy(output + j + 4, &c, sizeof c);
        std::memcpy(output + j + 6, &d, sizeof d);
    }
    for (; j < count; ++j)
        output[j] = at(input + j);
}
