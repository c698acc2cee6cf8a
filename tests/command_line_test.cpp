#include "common/command_line.h"
#include "common/exit_codes.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Outcome {
    int code;
    BurstSchedule schedule;
    std::string errors;
};

Outcome read(std::vector<const char*> args)
{
    args.insert(args.begin(), "ravgen");
    Outcome outcome{0, BurstSchedule(), ""};
    std::ostringstream errors;
    outcome.code = readArguments(static_cast<int>(args.size()), args.data(), generatorSynopsis,
                                 outcome.schedule, errors);
    outcome.errors = errors.str();
    return outcome;
}

const std::string usage = std::string("Useage: ") + generatorSynopsis + "\nBuilt " + __DATE__ + ".\n";

} // namespace

TEST(CommandLine, WrongCountWritesOnlyUsage)
{
    EXPECT_EQ(read({}).errors, usage);
    EXPECT_EQ(read({}).code, exitUsage);
    Outcome six = read({"a.wav", "1", "1", "100", "sweep", "extra"});
    EXPECT_EQ(six.code, exitUsage);
    EXPECT_EQ(six.errors, usage);
}

TEST(CommandLine, ModeWordIsJudgedByItsFirstCharacter)
{
    for (const char* word : {"Polar", "p", "pxyz", "P"})
        EXPECT_FALSE(read({"a.wav", "0", "1", "1000", word}).schedule.sweep) << word;
    for (const char* word : {"sweep", "x", "", " polar"})
        EXPECT_TRUE(read({"a.wav", "0", "1", "1000", word}).schedule.sweep) << word;
}

TEST(CommandLine, PolarTakesItsFrequencyFromPositionFour)
{
    Outcome polar = read({"a.wav", "100", "2", "2000", "polar"});
    EXPECT_EQ(polar.code, exitOk);
    EXPECT_EQ(polar.schedule.startFreq, 2000.0);
    EXPECT_EQ(polar.schedule.endFreq, 1000.0);
    EXPECT_EQ(polar.schedule.interval, 44100);
    EXPECT_EQ(polar.schedule.numAvg, 2);
    EXPECT_EQ(polar.schedule.delay, 100);
}

TEST(CommandLine, MissingPositionsKeepDefaults)
{
    Outcome lone = read({"a.wav"});
    EXPECT_EQ(lone.code, exitOk);
    EXPECT_EQ(lone.schedule.delay, 22050);
    EXPECT_EQ(lone.schedule.numAvg, 1);
    EXPECT_EQ(lone.schedule.startFreq, 100.0);
    EXPECT_TRUE(lone.schedule.sweep);
    EXPECT_EQ(read({"a.wav", "0", "0"}).code, exitOk);
}

struct RefusedArguments {
    std::vector<const char*> args;
    const char* firstLine;
};

void PrintTo(const RefusedArguments& c, std::ostream* out)
{
    *out << c.firstLine;
}

class CommandLineRefuses : public ::testing::TestWithParam<RefusedArguments> {};

TEST_P(CommandLineRefuses, NamingTheValueThenShowingUsage)
{
    Outcome outcome = read(GetParam().args);
    EXPECT_EQ(outcome.code, exitUsage);
    EXPECT_EQ(outcome.errors, std::string(GetParam().firstLine) + "\n" + usage);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CommandLineRefuses,
    ::testing::Values(
        RefusedArguments{{"a.wav", "0", "1", "0"}, "Start frequency 0 refused: it must be above 0 Hz."},
        RefusedArguments{{"a.wav", "0", "1", "abc"}, "Start frequency 0 refused: it must be above 0 Hz."},
        RefusedArguments{{"a.wav", "0", "1", "-100"}, "Start frequency -100 refused: it must be above 0 Hz."},
        RefusedArguments{{"a.wav", "0", "1", "1e13"},
                         "Start frequency 1e+013 refused: a burst would need more than 2147483647 cycles or frames."},
        RefusedArguments{{"a.wav", "0", "1", "1e400"},
                         "Start frequency inf refused: a burst would need more than 2147483647 cycles or frames."},
        RefusedArguments{{"a.wav", "0", "1", "1e-5"},
                         "Start frequency 1e-005 refused: a burst would need more than 2147483647 cycles or frames."},
        RefusedArguments{{"a.wav", "-1"}, "delay -1 refused: it must not be negative."},
        RefusedArguments{{"a.wav", "4294967295"}, "delay -1 refused: it must not be negative."},
        RefusedArguments{{"a.wav", "0", "-3"}, "numAvg -3 refused: it must not be negative."},
        RefusedArguments{{"a.wav", "22050", "243"},
                         "numAvg 243 with delay 22050 refused: the data would take 4308040800 bytes, more than the "
                         "4294967259 that the WAV size fields can describe."}));

TEST(CommandLine, SizeLimitsLieWhereThe32BitFieldsEnd)
{
    EXPECT_EQ(read({"a.wav", "22050", "242"}).code, exitOk);
    EXPECT_EQ(read({"a.wav", "22050", "243"}).code, exitUsage);
    EXPECT_EQ(read({"a.wav", "22050", "338", "1000", "polar"}).code, exitOk);
    EXPECT_EQ(read({"a.wav", "22050", "339", "1000", "polar"}).code, exitUsage);
    // The largest lead-in alone: (4294967259 - 0) / 4 frames.
    EXPECT_EQ(read({"a.wav", "1073741814", "0"}).code, exitOk);
    EXPECT_EQ(read({"a.wav", "1073741815", "0"}).code, exitUsage);
}

TEST(CommandLine, ExtremeButFittingFrequenciesAreAccepted)
{
    EXPECT_EQ(read({"a.wav", "0", "1", "1e11"}).code, exitOk);
    EXPECT_EQ(read({"a.wav", "0", "1", "0.001"}).code, exitOk);
    EXPECT_EQ(read({"a.wav", "0", "1", "1e11", "polar"}).code, exitOk);
}

TEST(CommandLine, RunHeaderCountsArgumentsAfterProgram)
{
    const char* args[] = {"./ravan", "rec.wav", "0", "2", "1000", "polar"};
    std::ostringstream report;
    writeRunHeader(report, 6, args);
    EXPECT_EQ(report.str(), "executable:\t./ravan\n arguments:\t5\n file name:\trec.wav\n");
    EXPECT_TRUE(argumentsAccepted(2, args));
    EXPECT_FALSE(argumentsAccepted(1, args));
}

// ravgen's and ravan's "Useage" stays, as do the programs' that share their
// message; the two newer programs spell it plainly. A program whose name
// only begins like theirs keeps the old label.
TEST(CommandLine, UsageLabelPerProgram)
{
    const std::pair<const char*, const char*> cases[] = {
        {generatorSynopsis, "Useage: "},      {analyzerSynopsis, "Useage: "},
        {"ravprep recording aligned.wav", "Useage: "}, {"ravdelay recording.wav", "Useage: "},
        {"ravmeasure stimulus.wav recording.wav", "Useage: "},
        {"ravfit recording", "Usage: "},      {"ravsim in.wav out.wav", "Usage: "},
        {"ravfitter x", "Useage: "},
    };
    for (const auto& [synopsis, label] : cases)
        EXPECT_STREQ(usageLabel(synopsis), label) << synopsis;
}
