#include "common/number_text.h"

#include "common/little_endian.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

const char* skipBlanks(const char* text)
{
    while (isBlank(*text))
        ++text;
    return text;
}

// Significant digits kept for the conversion. Beyond 800 digits the value
// can only matter through whether any later digit is non-zero, so one sticky
// digit stands for all of them and the rounding stays correct.
constexpr int keptDigits = 800;
// An exponent beyond this already over- or underflows every double.
constexpr long exponentLimit = 100000;

} // namespace

std::int32_t parseInteger(const char* text)
{
    text = skipBlanks(text);
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    std::uint32_t value = 0;
    for (; isDigit(*text); ++text)
        value = value * 10u + static_cast<std::uint32_t>(*text - '0');
    if (negative)
        value = 0u - value;
    return signedFromBits(value);
}

namespace {

// The significant digits of a decimal number and the decimal exponent of the
// last one's place.
struct SignificantDigits {
    char digits[keptDigits + 2];
    int kept = 0;
    bool sticky = false;    // a non-zero digit beyond the kept ones
    bool anyDigit = false;
    long pointShift = 0;

    // Reads digits with an optional decimal point from `text`; returns
    // where they end.
    const char* read(const char* text)
    {
        bool afterPoint = false;
        for (;; ++text) {
            if (*text == '.' && !afterPoint) {
                afterPoint = true;
                continue;
            }
            if (!isDigit(*text))
                return text;
            anyDigit = true;
            if (kept == 0 && *text == '0') {
                if (afterPoint)
                    --pointShift;
                continue;
            }
            if (kept < keptDigits) {
                digits[kept++] = *text;
                if (afterPoint)
                    --pointShift;
            } else {
                sticky = sticky || *text != '0';
                if (!afterPoint && pointShift < exponentLimit)
                    ++pointShift;
            }
        }
    }
};

// An exponent introduced by e, E, d or D, held within exponentLimit; 0
// where there is none.
long readExponent(const char* text)
{
    if (*text != 'e' && *text != 'E' && *text != 'd' && *text != 'D')
        return 0;
    const char* mark = text + 1;
    bool negative = *mark == '-';
    if (*mark == '-' || *mark == '+')
        ++mark;
    long exponent = 0;
    for (; isDigit(*mark); ++mark)
        if (exponent < exponentLimit)
            exponent = exponent * 10 + (*mark - '0');
    return negative ? -exponent : exponent;
}

} // namespace

double parseReal(const char* text)
{
    text = skipBlanks(text);
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    SignificantDigits number;
    text = number.read(text);
    if (!number.anyDigit || number.kept == 0)
        return negative ? -0.0 : 0.0;
    long exponent = readExponent(text);
    if (number.sticky)
        number.digits[number.kept++] = '1';
    exponent += number.pointShift - (number.sticky ? 1 : 0);

    // Rewritten as plain digits and an e exponent, the text holds no decimal
    // point, so the conversion does not depend on the locale.
    char rewritten[keptDigits + 32];
    int length = 0;
    if (negative)
        rewritten[length++] = '-';
    for (int i = 0; i < number.kept; ++i)
        rewritten[length++] = number.digits[i];
    std::snprintf(rewritten + length, sizeof rewritten - static_cast<std::size_t>(length), "e%ld", exponent);
    return std::strtod(rewritten, nullptr);
}

namespace {

// Skips an optional sign and digits; `digits` counts them.
const char* skipSignedDigits(const char* text, int& digits)
{
    if (*text == '-' || *text == '+')
        ++text;
    for (digits = 0; isDigit(*text); ++text)
        ++digits;
    return text;
}

} // namespace

bool isWholeInteger(const char* text)
{
    int digits = 0;
    text = skipSignedDigits(skipBlanks(text), digits);
    return digits > 0 && *text == '\0';
}

bool isWholeReal(const char* text)
{
    int digits = 0;
    text = skipSignedDigits(skipBlanks(text), digits);
    int fraction = 0;
    if (*text == '.')
        for (++text; isDigit(*text); ++text)
            ++fraction;
    if (digits + fraction == 0)
        return false;
    if (*text == 'e' || *text == 'E' || *text == 'd' || *text == 'D') {
        int exponentDigits = 0;
        text = skipSignedDigits(text + 1, exponentDigits);
        if (exponentDigits == 0)
            return false;
    }
    return *text == '\0';
}
