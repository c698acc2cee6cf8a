#include "analyzer.h"
#include "delay_finder.h"
#include "exit_codes.h"
#include "generator.h"
#include "simulator.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

namespace {

bool exists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

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
        {"ravsim", runSimulator},
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
        BadSimValue{{"--latency", "abc"}, "ravsim: --latency abc: is not a whole number."},
        BadSimValue{{"--latency", "-100000000"}, "ravsim: --latency -100000000: must be at least 0."},
        BadSimValue{{"--latency", "2000000000"}, "ravsim: --latency 2000000000: the recording would hold more than"},
        BadSimValue{{"--latency", "99999999999"}, "ravsim: --latency 99999999999: must be at most 2147483647."},
        BadSimValue{{"--device-on", "3"}, "ravsim: --device-on 3: must be 1, 2 or both."},
        BadSimValue{{"--gain", "x"}, "ravsim: --gain x: is not a number."},
        BadSimValue{{"--gain", "3dB"}, "ravsim: --gain 3dB: is not a number."},
        BadSimValue{{"--delay", "-1"}, "ravsim: --delay -1: must be at least 0."},
        BadSimValue{{"--q", "0"}, "ravsim: --q 0: must be above 0."},
        BadSimValue{{"--q", "-2"}, "ravsim: --q -2: must be above 0."},
        BadSimValue{{"--lowpass", "30000"}, "ravsim: --lowpass 30000: must be at most 22050."},
        BadSimValue{{"--highpass", "22050"}, "ravsim: --highpass 22050: must be below 22050, half the sample rate."},
        BadSimValue{{"--peaking", "1000,2"}, "ravsim: --peaking 1000,2: the gain is not a number."},
        BadSimValue{{"--peaking", "1000,0,3"}, "ravsim: --peaking 1000,0,3: the Q must be above 0."},
        BadSimValue{{"--noise", "-5"}, "ravsim: --noise -5: must be at least 0."},
        BadSimValue{{"--lowpass", "1000", "--highpass", "50"}, "ravsim: give one of --lowpass, --highpass and --peaking"},
        BadSimValue{{"--cardioid"}, "--cardioid refused: it needs a value."},
        BadSimValue{{"--bogus", "1"}, "--bogus refused: ravsim has no such option."}));

TEST(Simulator, RefusesItsInputAsOutputAndAMissingInput)
{
    TempDir dir;
    const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
    ASSERT_EQ(runGeneratorWith({in, "100", "1", "2000", "polar"}).code, exitOk);
    EXPECT_EQ(runFlow(runSimulator, "ravsim", {in, in}).code, exitUsage);
    EXPECT_EQ(runFlow(runSimulator, "ravsim", {dir.file("none.wav"), out}).code, exitOpen);
}
