#include "common/report_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ostream>

namespace {

// Writes |exponent| (below 1000) as exactly three digits.
char* threeDigits(int exponent, char* out)
{
    out[0] = static_cast<char>('0' + exponent / 100);
    out[1] = static_cast<char>('0' + exponent / 10 % 10);
    out[2] = static_cast<char>('0' + exponent % 10);
    return out + 3;
}

// Powers of ten that a double holds exactly.
constexpr double exactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// `magnitude` times 10^k, rounded once: k and -k up to 22 use an exact power.
double scaledByPowerOfTen(double magnitude, int k)
{
    return k >= 0 ? magnitude * exactPowersOfTen[k] : magnitude / exactPowersOfTen[-k];
}

// Writes %g's layout of the decimal 0.d1d2...dcount * 10^(exponent + 1):
// fixed notation for exponents from -4 to 5, else one digit, the point, the
// rest and a three-digit exponent. `digits` has no trailing zeros.
char* layOutGeneral(bool negative, const char* digits, int count, int exponent, char* out)
{
    if (negative)
        *out++ = '-';
    if (exponent < -4 || exponent >= 6) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            for (int k = 1; k < count; ++k)
                *out++ = digits[k];
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        return threeDigits(exponent < 0 ? -exponent : exponent, out);
    }
    if (exponent >= 0) {
        for (int k = 0; k <= exponent; ++k)
            *out++ = k < count ? digits[k] : '0';
        if (count > exponent + 1) {
            *out++ = '.';
            for (int k = exponent + 1; k < count; ++k)
                *out++ = digits[k];
        }
        return out;
    }
    *out++ = '0';
    *out++ = '.';
    for (int k = -1; k > exponent; --k)
        *out++ = '0';
    for (int k = 0; k < count; ++k)
        *out++ = digits[k];
    return out;
}

// The %.6g text of `value`, from its magnitude scaled by an exact power of
// ten into [1e5, 1e6) and rounded to a whole number there. The scaling is
// one correctly rounded operation, and rounding is monotonic: a scaled value
// above a midpoint n + 0.5 (a double) comes from an exact value above it,
// one below from one below. Only a scaled value equal to a midpoint leaves
// the rounding undecided. Returns 0 there, and for magnitudes outside
// 1e-16 .. 1e27, which no exact power scales; the library decides those.
std::size_t sixDigitsByScaling(double value, char* text)
{
    const double magnitude = std::abs(value);
    if (!(magnitude >= 1e-16 && magnitude < 1e27))
        return 0;
    int binaryExponent = 0;
    std::frexp(magnitude, &binaryExponent);
    // floor(log10(2^(binaryExponent - 1))), which is the decimal exponent
    // or one below it.
    int exponent = ((binaryExponent - 1) * 78913) >> 18;
    double scaled = scaledByPowerOfTen(magnitude, 5 - exponent);
    if (scaled >= 1e6) {
        ++exponent;
        scaled = scaledByPowerOfTen(magnitude, 5 - exponent);
    }
    if (!(scaled >= 1e5 && scaled < 1e6))
        return 0;
    auto whole = static_cast<std::int32_t>(scaled);
    const double fraction = scaled - whole;   // exact below 2^52
    if (fraction == 0.5)
        return 0;
    if (fraction > 0.5 && ++whole == 1000000) {
        whole = 100000;
        ++exponent;
    }
    char digits[6];
    for (int k = 5; k >= 0; --k, whole /= 10)
        digits[k] = static_cast<char>('0' + whole % 10);
    int count = 6;
    while (count > 1 && digits[count - 1] == '0')
        --count;   // %g drops trailing zeros
    char* end = layOutGeneral(value < 0, digits, count, exponent, text);
    *end = '\0';
    return static_cast<std::size_t>(end - text);
}

} // namespace

std::size_t formatReal(double value, char (&text)[realTextSize])
{
    if (std::isnan(value)) {
        std::strcpy(text, "nan");
        return 3;
    }
    if (std::isinf(value)) {
        std::strcpy(text, value < 0 ? "-inf" : "inf");
        return std::strlen(text);
    }
    if (std::size_t length = sixDigitsByScaling(value, text))
        return length;
    // The general format with 6 significant digits, as printf's %.6g writes
    // it (the standard defines to_chars by it), without the locale.
    std::to_chars_result written = std::to_chars(text, text + realTextSize - 1, value, std::chars_format::general, 6);
    *written.ptr = '\0';
    auto* exponent = static_cast<char*>(std::memchr(text, 'e', static_cast<std::size_t>(written.ptr - text)));
    if (exponent == nullptr)
        return static_cast<std::size_t>(written.ptr - text);

    // Two exponent digits at least are written; the reports always show
    // three, so a two-digit exponent gets a leading zero after its sign.
    char* digits = exponent + 2;
    if (written.ptr - digits == 2) {
        digits[2] = digits[1];
        digits[1] = digits[0];
        digits[0] = '0';
        *++written.ptr = '\0';
    }
    return static_cast<std::size_t>(written.ptr - text);
}

void RowText::addInteger(long value)
{
    length = static_cast<std::size_t>(std::to_chars(text + length, text + capacity, value).ptr - text);
}

void RowText::addReal(double value)
{
    char real[realTextSize];
    std::size_t size = formatReal(value, real);
    std::memcpy(text + length, real, size);
    length += size;
}

void RowText::writeTo(std::ostream& out) const
{
    out.write(text, static_cast<std::streamsize>(length));
}

void writeReal(std::ostream& out, double value)
{
    char text[realTextSize];
    std::size_t length = formatReal(value, text);
    out.write(text, static_cast<std::streamsize>(length));
}

std::string fixedText(double value, int decimals)
{
    char text[64];
    if (!std::isfinite(value)) {
        char real[realTextSize];
        formatReal(value, real);
        return real;
    }
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (std::string(text).find_first_of("123456789") == std::string::npos && text[0] == '-')
        return text + 1;
    return text;
}
