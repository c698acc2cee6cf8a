#include "report_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>

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
