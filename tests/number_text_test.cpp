#include "common/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

TEST(NumberText, IntegersAccumulateIn32BitsAndWrap)
{
    struct Case {
        const char* text;
        std::int32_t expected;
    } cases[] = {
        {"22050", 22050},
        {"  \t-17xyz", -17},
        {"+5", 5},
        {"2147483647", 2147483647},
        {"2147483648", -2147483647 - 1},
        {"4294967296", 0},
        {"4294967297", 1},
        {"-2147483648", -2147483647 - 1},
        {"abc", 0},
        {"", 0},
        {"0x10", 0},
        {"- 5", 0},
        {"12.9", 12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseInteger(c.text), c.expected) << c.text;
}

TEST(NumberText, RealsReadDecimalNotationOnly)
{
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"1000", 1000.0},
        {" 2.5", 2.5},
        {"-.5", -0.5},
        {"5.", 5.0},
        {"1e3", 1000.0},
        {"1E+3", 1000.0},
        {"1d3", 1000.0},
        {"2.5D-2", 0.025},
        {"1e", 1.0},
        {"1e+", 1.0},
        {"1d3x", 1000.0},
        {"100Hz", 100.0},
        {"inf", 0.0},
        {"nan", 0.0},
        {"infinity", 0.0},
        {"0x1p4", 0.0},
        {"abc", 0.0},
        {".", 0.0},
        {"", 0.0},
        {"1.2.3", 1.2},
        {"0.1", 0.1},
        {"000123.4500", 123.45},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseReal(c.text), c.expected) << c.text;
}

TEST(NumberText, RealsAreCorrectlyRoundedAtExtremes)
{
    EXPECT_TRUE(std::isinf(parseReal("1e400")));
    EXPECT_EQ(parseReal("1e-400"), 0.0);
    EXPECT_EQ(parseReal("1e99999999999999999999"), HUGE_VAL);
    EXPECT_EQ(parseReal("2.2250738585072011e-308"), 2.2250738585072011e-308);
    // A halfway case decided only by a digit far beyond the first 800.
    std::string halfway = "9007199254740993";  // 2^53 + 1, halfway between two doubles
    EXPECT_EQ(parseReal(halfway.c_str()), 9007199254740992.0);
    std::string above = halfway + "." + std::string(1000, '0') + "1";
    EXPECT_EQ(parseReal(above.c_str()), 9007199254740994.0);
    std::string longInteger = "1" + std::string(1200, '0') + "e-1190";
    EXPECT_EQ(parseReal(longInteger.c_str()), 1e10);
}
