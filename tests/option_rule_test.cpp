#include "common/option_reader.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

bool evenLength(const std::string& text)
{
    return text.size() % 2 == 0;
}

const OptionTable table{
    "prog",
    "prog file [--tail SECONDS]",
    {OptionRule::real("--tail", "SECONDS", "seconds", 0, 3600, "recorded after the end"),
     OptionRule::real("--freq", "HZ", "Hz", 0, 22050, "a frequency", false, false),
     OptionRule::real("--gate", "MS", "milliseconds", 0, 371.519, "a gate", false),
     OptionRule::whole("--delay", "N", "frames", 0, 441000, "a delay"),
     OptionRule::text("--ir", "FILE", "a file name", "where to write"),
     OptionRule::choice("--reference", "1|2|none", "the loopback"),
     OptionRule::custom("--pair", "AB", evenLength, "text of even length", "a pair"),
     OptionRule::flag("--loud", "louder")}};

struct ValueCase {
    std::vector<const char*> args;
    const char* refusal;   // empty: accepted
};

void PrintTo(const ValueCase& c, std::ostream* out)
{
    for (const char* arg : c.args)
        *out << arg << ' ';
}

class OptionValues : public ::testing::TestWithParam<ValueCase> {};

} // namespace

TEST_P(OptionValues, AreAdmittedOrRefusedInOneForm)
{
    const ValueCase& c = GetParam();
    std::vector<const char*> argv{"prog", "file"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SplitLine line;
    EXPECT_EQ(table.split(static_cast<int>(argv.size()), argv.data(), line), c.refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionValues,
    ::testing::Values(
        ValueCase{{"--tail", "0"}, ""}, ValueCase{{"--tail", "3600"}, ""},
        ValueCase{{"--tail", "3600.001"}, "--tail 3600.001 refused: it takes seconds from 0 to 3600."},
        ValueCase{{"--tail", "nan"}, "--tail nan refused: it takes seconds from 0 to 3600."},
        ValueCase{{"--tail", "1s"}, "--tail 1s refused: it takes seconds from 0 to 3600."},
        ValueCase{{"--tail"}, "--tail refused: it takes seconds from 0 to 3600."},
        ValueCase{{"--freq", "22050"}, "--freq 22050 refused: it takes Hz above 0 and below 22050."},
        ValueCase{{"--freq", "0"}, "--freq 0 refused: it takes Hz above 0 and below 22050."},
        ValueCase{{"--gate", "371.519"}, ""},
        ValueCase{{"--gate", "0"}, "--gate 0 refused: it takes milliseconds above 0, at most 371.5."},
        ValueCase{{"--delay", "441000"}, ""},
        ValueCase{{"--delay", "1.5"}, "--delay 1.5 refused: it takes a whole number of frames from 0 to 441000."},
        // Beyond 32 bits a whole number must not wrap into the range.
        ValueCase{{"--delay", "4294967296"}, "--delay 4294967296 refused: it takes a whole number of frames from 0 "
                                             "to 441000."},
        ValueCase{{"--ir", ""}, "--ir refused: it takes a file name."},
        ValueCase{{"--reference", "none"}, ""},
        ValueCase{{"--reference", "1|2"}, "--reference 1|2 refused: it takes 1, 2 or none."},
        ValueCase{{"--reference", ""}, "--reference refused: it takes 1, 2 or none."},
        ValueCase{{"--pair", "a\nb"}, "--pair refused: it takes text of even length."},
        ValueCase{{"--loud", "--tail", "-1"}, "--tail -1 refused: it takes seconds from 0 to 3600."},
        ValueCase{{"--quiet"}, "--quiet refused: prog has no such option."}));

TEST(OptionTable, SplitsOptionsAnywhereAndKeepsNegativeNumbersPositional)
{
    const char* argv[] = {"prog", "--loud", "file", "-5", "--tail", "2"};
    SplitLine line;
    ASSERT_EQ(table.split(6, argv, line), "");
    EXPECT_EQ(line.positional, (std::vector<const char*>{"prog", "file", "-5"}));
    ASSERT_EQ(line.options.size(), 2u);
    EXPECT_EQ(line.options[0], (std::pair<std::string, std::string>{"--loud", ""}));
    EXPECT_EQ(line.options[1], (std::pair<std::string, std::string>{"--tail", "2"}));
}

TEST(OptionTable, HelpListsEveryOptionAfterTheUsage)
{
    const char* argv[] = {"prog", "--help"};
    std::ostringstream report;
    int code = -1;
    ASSERT_TRUE(table.helpHandled(2, argv, report, code));
    EXPECT_EQ(code, 0);
    const std::string text = report.str();
    EXPECT_EQ(text.rfind("Useage: prog file [--tail SECONDS]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nOptions:\n  --tail SECONDS        recorded after the end (seconds from 0 to 3600)\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("\n  --loud                louder\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  --reference 1|2|none  the loopback\n"), std::string::npos) << text;
}
