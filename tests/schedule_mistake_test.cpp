#include "simulator/simulated_path.h"
#include "tests/prep_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

RunResult prepOn(const std::string& recording, const std::vector<std::string>& args)
{
    TempDir dir;
    writeFile(dir.file("rec.wav"), recording);
    std::vector<std::string> all{dir.file("rec.wav"), dir.file("aligned.wav")};
    all.insert(all.end(), args.begin(), args.end());
    return runPrepWith(all);
}

std::string withoutFrames(std::string wav, std::size_t from, std::size_t count)
{
    wav.erase(44 + 4 * from, 4 * count);
    return wav;
}

// A recording as the user made it (built when its case runs), what they
// give ravdelay and ravprep, and what both must say.
struct Mistake {
    const char* name;
    std::string (*recording)();
    std::vector<std::string> args;
    int code;
    const char* says;  // in the error stream
};

void PrintTo(const Mistake& c, std::ostream* out)
{
    *out << c.name;
}

std::string sweep()
{
    return generatedFile({});
}

std::string through(SimulatedPath path)
{
    return path.record(sweep());
}

const Mistake mistakes[] = {
    {"NumAvg4AnalysedAs1", [] { return generatedFile({"22050", "4"}); }, {}, -7,
     "Bursts repeat every 88200 frames, the arguments give 22050: was the file generated with numAvg 4?"},
    {"NumAvg1AnalysedAs4", sweep, {"22050", "4"}, -7,
     "Bursts repeat every 22050 frames, the arguments give 88200: was the file generated with numAvg 1?"},
    {"PolarRunAnalysedAsASweep", [] { return generatedFile({"22050", "1", "100", "polar"}); }, {}, -7,
     "was the file generated as a polar run?"},
    {"PolarRunAt1000Hz", [] { return generatedFile({"22050", "1", "1000", "polar"}); }, {}, -7,
     "Hz, the arguments give a sweep from 100 Hz: give the start frequency"},
    {"SweepAnalysedAsAPolarRun", sweep, {"22050", "1", "100", "polar"}, -7,
     "The bursts do not follow a polar run at 100 Hz"},
    {"RecordingStartedInStep2", [] { return withoutFrames(sweep(), 0, 22050 + 10000); }, {}, -7, "step 2's"},
    {"RecordingEndedInStep151", [] { return sweep().substr(0, 44 + 4 * (22050 + 22050 * 150)); }, {}, -7,
     "The recording ends in step 151 of 201: 25.0 s are missing"},
    {"Recorder10dBTooHot", [] {
         SimulatedPath hot;
         hot.channels[0].gain = hot.channels[1].gain = 3.16;
         return through(hot);
     }, {}, 0, "reaches full scale from step 1 (100 Hz) on: lower the recording level by at least"},
    {"LoopbackOnChannel1", [] {
         SimulatedPath swapped;  // the loopback wired to channel 1, the device to 2
         swapped.channels[1].filter = Biquad::lowPass(3000, 0.7);
         swapped.channels[1].delayFrames = 64;
         return through(swapped);
     }, {}, 0, "the loopback is on channel 1"},
    {"BurstsBarelyAboveTheNoise", [] {
         SimulatedPath weak;
         weak.channels[0].gain = weak.channels[1].gain = 0.01;
         weak.noiseRms = 20;
         return through(weak);
     }, {}, 0, "dB above the lead-in's noise"},
};

class ScheduleMistake : public ::testing::TestWithParam<Mistake> {};

TEST_P(ScheduleMistake, IsRefusedOrWarnedByBothPrograms)
{
    const Mistake& c = GetParam();
    const std::string recording = c.recording();
    RunResult delay = runDelayFinderOn(recording, c.args);
    EXPECT_EQ(delay.code, c.code) << "ravdelay\n" << delay.errors;
    EXPECT_NE(delay.errors.find(c.says), std::string::npos) << "ravdelay\n" << delay.errors;
    RunResult prep = prepOn(recording, c.args);
    EXPECT_EQ(prep.code, c.code) << "ravprep\n" << prep.errors;
    EXPECT_NE(prep.errors.find(c.says), std::string::npos) << "ravprep\n" << prep.errors;
    std::printf("%-28s %s", c.name, prep.errors.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, ScheduleMistake, ::testing::ValuesIn(mistakes),
                         [](const ::testing::TestParamInfo<Mistake>& info) { return info.param.name; });

} // namespace

TEST(ScheduleCheck, TheRecordingIsNeverItsOwnOutput)
{
    TempDir dir;
    std::string recording = generatedFile({"100", "1", "2000", "polar"});
    writeFile(dir.file("rec.wav"), recording);
    std::string path = dir.file("rec.wav"), again = dir.path + "/./rec.wav";
    RunResult run = runPrepWith({path, again, "100", "1", "2000", "polar"});
    EXPECT_EQ(run.code, -1);
    EXPECT_NE(run.errors.find("is the recording itself"), std::string::npos);
    EXPECT_EQ(readFile(path), recording);
}
