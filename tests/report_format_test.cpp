#include "common/report_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string text(double value)
{
    char buffer[realTextSize];
    formatReal(value, buffer);
    return buffer;
}

// printf's own %.6g, with the exponent widened to three digits.
std::string printfText(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    std::string result = buffer;
    std::size_t e = result.find('e');
    if (e != std::string::npos && result.size() - e == 4)
        result.insert(e + 2, "0");
    return result;
}

} // namespace

TEST(ReportFormat, SixSignificantDigitsWithThreeDigitExponent)
{
    struct Case {
        double value;
        const char* expected;
    } cases[] = {
        {0.0, "0"},
        {100.0, "100"},
        {1002.2727272727, "1002.27"},
        {0.5, "0.5"},
        {1.5e-5, "1.5e-005"},
        {0.0001, "0.0001"},
        {123456.0, "123456"},
        {1234567.0, "1.23457e+006"},
        {1e100, "1e+100"},
        {-2.5e-300, "-2.5e-300"},
        {999999.5, "1e+006"},
        {4.9e-324, "4.94066e-324"},
        {-0.0427, "-0.0427"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text(c.value), c.expected) << c.value;
}

TEST(ReportFormat, NonFiniteValuesHaveFixedSpelling)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(text(inf), "inf");
    EXPECT_EQ(text(-inf), "-inf");
    EXPECT_EQ(text(nan), "nan");
    EXPECT_EQ(text(std::copysign(nan, -1.0)), "nan");
}

TEST(ReportFormat, EveryFiniteValueReadsAsPrintfWritesIt)
{
    // Values whose digits sit at a rounding decision: exact midpoints of six
    // digits, the shortest digits ending in 5 one place beyond, carries
    // through nines, and the edges between fixed and exponent notation.
    std::vector<double> values = {
        999999.5, 999998.5, 1234565.0, 1234575.0, 0.1234565, 9999995.0, 9999996.0, 999999.4, 999999.6,
        0.0001, 0.00009999995, 0.000099999949, 0.000099999951, 1e-5, 99999.95, 100000.0, 1e6, 5e-324,
        2.2250738585072014e-308, 1.7976931348623157e308, 0.5, 2.5, 125.0, 1.0 / 3, 2.0 / 3,
    };
    std::mt19937_64 random(13);
    for (int i = 0; i < 100000; ++i) {
        // Any bit pattern, and short decimals near the six-digit midpoints.
        std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value))
            values.push_back(value);
        double midpoint = (static_cast<double>(random() % 9000000 + 1000000) + 0.5) / 10;
        values.push_back(std::ldexp(midpoint, static_cast<int>(random() % 40) - 20));
        values.push_back(midpoint * std::pow(10.0, static_cast<int>(random() % 30) - 15));
        values.push_back(std::uniform_real_distribution<double>(1, 10)(random)
                         * std::pow(10.0, static_cast<int>(random() % 50) - 20));
    }
    for (double value : values) {
        ASSERT_EQ(text(value), printfText(value)) << value;
        ASSERT_EQ(text(-value), printfText(-value)) << value;
    }
}
