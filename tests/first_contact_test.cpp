#include "analyzer/analyzer.h"
#include "common/exit_codes.h"
#include "delay_finder/delay_finder.h"
#include "generator/generator.h"
#include "simulator/simulator.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

namespace {

bool exists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The programs without options, which refuse any dash before their file.
std::vector<std::pair<const char*, FlowFunction>> programs()
{
    return {
        {"ravgen", runGenerator},
        {"ravan", [](int c, const char* const* v, std::ostream& r, std::ostream& e) {
             std::istringstream in;
             return runAnalyzer(c, v, in, r, e);
         }},
        {"ravdelay", [](int c, const char* const* v, std::ostream& r, std::ostream& e) {
             std::istringstream in;
             return runDelayFinder(c, v, in, r, e);
         }},
    };
}

} // namespace

TEST(FirstContact, HelpPrintsUsageAndADashIsNoFileName)
{
    for (const auto& [program, flow] : programs())
        for (const char* help : {"-h", "--help"}) {
            RunResult asked = runFlow(flow, program, {help});
            EXPECT_EQ(asked.code, exitOk) << program;
            EXPECT_EQ(asked.report.rfind(std::string("Useage: ") + program, 0), 0u) << program << asked.report;
            EXPECT_EQ(asked.errors, "") << program;
            EXPECT_FALSE(exists(help)) << program << " wrote a file named " << help;
            RunResult refused = runFlow(flow, program, {"--help", "out.wav"});
            EXPECT_EQ(refused.code, exitUsage) << program;
            EXPECT_EQ(refused.errors.rfind("Not a file name: --help", 0), 0u) << refused.errors;
            EXPECT_EQ(refused.report, "") << program;
        }
}

TEST(FirstContact, RavsimHelpListsItsOptionsAndOptionsMayStandFirst)
{
    RunResult asked = runFlow(runSimulator, "ravsim", {"--help"});
    EXPECT_EQ(asked.code, exitOk);
    EXPECT_EQ(asked.report.rfind("Usage: ravsim", 0), 0u) << asked.report;
    EXPECT_NE(asked.report.find("\nOptions:\n  --latency N "), std::string::npos) << asked.report;
    TempDir dir;
    const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
    ASSERT_EQ(runGeneratorWith({in, "100", "1", "2000", "polar"}).code, exitOk);
    RunResult simulated = runFlow(runSimulator, "ravsim", {"--gain", "-6", in, out});
    EXPECT_EQ(simulated.code, exitOk) << simulated.errors;
    EXPECT_TRUE(exists(out));
}

#ifdef RAVPREP_PATH
TEST(FirstContact, RavprepHelpTouchesNoFile)
{
    RunResult asked = runProcess(RAVPREP_PATH, {"--help"});
    EXPECT_EQ(asked.code, 0);
    EXPECT_EQ(asked.report.rfind("Useage: ravprep", 0), 0u) << asked.report;
    RunResult refused = runProcess(RAVPREP_PATH, {"-x.wav", "out.wav"});
    EXPECT_EQ(refused.code, 255);
    EXPECT_EQ(refused.errors.rfind("-x.wav refused: ravprep has no such option.", 0), 0u) << refused.errors;
    EXPECT_FALSE(exists("out.wav"));
}

TEST(FirstContact, RavprepOptionsMayStandFirst)
{
    TempDir dir;
    const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
    ASSERT_EQ(runGeneratorWith({in, "100", "1", "2000", "polar"}).code, exitOk);
    RunResult prepared = runProcess(RAVPREP_PATH, {"--reference", "2", in, out, "100", "1", "2000", "polar"});
    EXPECT_EQ(prepared.code, 0) << prepared.errors;
    EXPECT_TRUE(exists(out));
}
#endif

struct BadSimValue {
    std::vector<std::string> options;
    const char* line;
};

void PrintTo(const BadSimValue& c, std::ostream* out)
{
    *out << c.line;
}

class SimulatorRefuses : public ::testing::TestWithParam<BadSimValue> {};

TEST_P(SimulatorRefuses, TheBadValueWithOneLineNamingIt)
{
    const BadSimValue& c = GetParam();
    TempDir dir;
    const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
    ASSERT_EQ(runGeneratorWith({in, "100", "1", "2000", "polar"}).code, exitOk);
    std::vector<std::string> args{in, out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    RunResult result = runFlow(runSimulator, "ravsim", args);
    EXPECT_EQ(result.code, exitUsage);
    EXPECT_EQ(result.errors.rfind(c.line, 0), 0u) << result.errors;
    EXPECT_FALSE(exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Values, SimulatorRefuses,
    ::testing::Values(
        BadSimValue{{"--latency", "abc"}, "--latency abc refused: it takes a whole number of frames from 0 to 2147483647."},
        BadSimValue{{"--latency", "-100000000"}, "--latency -100000000 refused: it takes a whole number"},
        BadSimValue{{"--latency", "2000000000"}, "--latency 2000000000 refused: the recording would hold more than"},
        BadSimValue{{"--latency", "99999999999"}, "--latency 99999999999 refused: it takes a whole number"},
        BadSimValue{{"--device-on", "3"}, "--device-on 3 refused: it takes 1, 2 or both."},
        BadSimValue{{"--gain", "x"}, "--gain x refused: it takes decibels from -120 to 120."},
        BadSimValue{{"--gain", "3dB"}, "--gain 3dB refused"},
        BadSimValue{{"--delay", "-1"}, "--delay -1 refused: it takes a whole number of frames from 0 to 441000."},
        BadSimValue{{"--q", "0"}, "--q 0 refused: it takes a Q above 0, at most 100."},
        BadSimValue{{"--q", "-2"}, "--q -2 refused"},
        BadSimValue{{"--lowpass", "30000"}, "--lowpass 30000 refused: it takes Hz above 0 and below 22050."},
        BadSimValue{{"--highpass", "22050"}, "--highpass 22050 refused"},
        BadSimValue{{"--peaking", "1000,2"}, "--peaking 1000,2 refused: it takes a frequency in Hz"},
        BadSimValue{{"--peaking", "1000,0,3"}, "--peaking 1000,0,3 refused"},
        BadSimValue{{"--noise", "-5"}, "--noise -5 refused: it takes decibels from 0 to 200."},
        BadSimValue{{"--lowpass", "1000", "--highpass", "50"}, "--highpass refused: the device has one filter"},
        BadSimValue{{"--cardioid"}, "--cardioid refused: it takes a whole number of frames"},
        BadSimValue{{"--bogus", "1"}, "--bogus refused: ravsim has no such option."}));

TEST(Simulator, RefusesItsInputAsOutputAndAMissingInput)
{
    TempDir dir;
    const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
    ASSERT_EQ(runGeneratorWith({in, "100", "1", "2000", "polar"}).code, exitOk);
    EXPECT_EQ(runFlow(runSimulator, "ravsim", {in, in}).code, exitUsage);
    EXPECT_EQ(runFlow(runSimulator, "ravsim", {dir.file("none.wav"), out}).code, exitOpen);
}
