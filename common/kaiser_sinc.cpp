#include "common/kaiser_sinc.h"

#include <cmath>

namespace {

double besselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

} // namespace

double kaiserSinc(double x, double reach, double beta)
{
    const double pi = std::acos(-1.0);
    double sinc = x == 0 ? 1.0 : std::sin(pi * x) / (pi * x);
    double r = x / reach;
    double window = r * r < 1 ? besselI0(beta * std::sqrt(1 - r * r)) / besselI0(beta) : 0.0;
    return sinc * window;
}
