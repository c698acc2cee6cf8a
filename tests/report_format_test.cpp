#include "report_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

std::string text(double value)
{
    char buffer[realTextSize];
    formatReal(value, buffer);
    return buffer;
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
