#include "prep_support.h"
#include "simulated_path.h"
#include "test_support.h"

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

struct Mistake {
    const char* name;
    std::string recording;
    std::vector<std::string> args;  // what the user gives ravdelay and ravprep
    int code;
    const char* says;               // in the error stream
};

} // namespace

TEST(ScheduleCheck, MismatchedRecordingsAreRefusedAndMistakesWarned)
{
    const std::string sweep = generatedFile({});
    SimulatedPath hot;  // the recorder's level 10 dB too high
    hot.channels[0].gain = hot.channels[1].gain = 3.16;
    SimulatedPath swapped;  // the loopback wired to channel 1, the device to 2
    swapped.channels[1].filter = Biquad::lowPass(3000, 0.7);
    swapped.channels[1].delayFrames = 64;
    SimulatedPath weak;
    weak.channels[0].gain = weak.channels[1].gain = 0.01;
    weak.noiseRms = 20;
    const std::vector<Mistake> cases = {
        {"numAvg 4 analysed as 1", generatedFile({"22050", "4"}), {}, -7,
         "Bursts repeat every 88200 frames, the arguments give 22050: was the file generated with numAvg 4?"},
        {"numAvg 1 analysed as 4", sweep, {"22050", "4"}, -7,
         "Bursts repeat every 22050 frames, the arguments give 88200: was the file generated with numAvg 1?"},
        {"a polar run analysed as a sweep", generatedFile({"22050", "1", "100", "polar"}), {}, -7,
         "was the file generated as a polar run?"},
        {"a polar run at 1000 Hz", generatedFile({"22050", "1", "1000", "polar"}), {}, -7,
         "Hz, the arguments give a sweep from 100 Hz: give the start frequency"},
        {"a sweep analysed as a polar run", sweep, {"22050", "1", "100", "polar"}, -7,
         "The bursts do not follow a polar run at 100 Hz"},
        {"recording started in step 2", withoutFrames(sweep, 0, 22050 + 10000), {}, -7, "step 2's"},
        {"recording ended in step 151", sweep.substr(0, 44 + 4 * (22050 + 22050 * 150)), {}, -7,
         "The recording ends in step 151 of 201: 25.0 s are missing"},
        {"recorder 10 dB too hot", hot.record(sweep), {}, 0, "reaches full scale from step 1 (100 Hz) on: lower the recording level by at least"},
        {"loopback on channel 1", swapped.record(sweep), {}, 0, "the loopback is on channel 1"},
        {"bursts barely above the noise", weak.record(sweep), {}, 0, "dB above the lead-in's noise"},
    };
    for (const Mistake& c : cases) {
        RunResult delay = runDelayFinderOn(c.recording, c.args);
        EXPECT_EQ(delay.code, c.code) << c.name << ": ravdelay\n" << delay.errors;
        EXPECT_NE(delay.errors.find(c.says), std::string::npos) << c.name << ": ravdelay\n" << delay.errors;
        RunResult prep = prepOn(c.recording, c.args);
        EXPECT_EQ(prep.code, c.code) << c.name << ": ravprep\n" << prep.errors;
        EXPECT_NE(prep.errors.find(c.says), std::string::npos) << c.name << ": ravprep\n" << prep.errors;
        std::printf("%-32s %s", c.name, prep.errors.c_str());
    }
}

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
