#include "report_format.h"

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
    int length = std::snprintf(text, realTextSize, "%.6g", value);
    char* exponent = std::strchr(text, 'e');
    if (exponent == nullptr)
        return static_cast<std::size_t>(length);

    // The C library writes at least two exponent digits; the reports always
    // show three, so the digits are rewritten after the sign.
    char* digits = exponent + 2;
    int power = std::atoi(digits);
    length = static_cast<int>(digits - text);
    length += std::snprintf(digits, realTextSize - static_cast<std::size_t>(length), "%03d", power);
    return static_cast<std::size_t>(length);
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
