#include "common/exit_codes.h"
#include "measure/measure.h"
#include "measure/measure_options.h"
#include "measure/recording_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Long enough to overrun the audio library's buffer for a server's name.
const std::string longName(300, 's');

int readOptions(std::vector<const char*> args, MeasureOptions& options, std::string& errors)
{
    args.insert(args.begin(), "ravmeasure");
    std::ostringstream out;
    int code = options.read(static_cast<int>(args.size()), args.data(), out);
    errors = out.str();
    return code;
}

} // namespace

TEST(MeasureOptions, OptionsMayStandAnywhereAfterTheProgram)
{
    MeasureOptions options;
    std::string errors;
    ASSERT_EQ(readOptions({"--tail", "2.5", "in.wav", "--play", "a:1,b:2", "out.wav", "100", "3", "--record",
                           "c:1,d:2", "--server", "lab"},
                          options, errors),
              exitOk)
        << errors;
    EXPECT_EQ(options.stimulus, "in.wav");
    EXPECT_EQ(options.recording, "out.wav");
    EXPECT_EQ(options.schedule.delay, 100);
    EXPECT_EQ(options.schedule.numAvg, 3);
    EXPECT_EQ(options.play, (std::vector<std::string>{"a:1", "b:2"}));
    EXPECT_EQ(options.record, (std::vector<std::string>{"c:1", "d:2"}));
    EXPECT_DOUBLE_EQ(options.tailSeconds, 2.5);
    EXPECT_EQ(options.server, "lab");
    EXPECT_FALSE(options.loopback);
}

struct MeasureRefusal {
    std::vector<const char*> args;
    const char* firstLine;
};

void PrintTo(const MeasureRefusal& c, std::ostream* out)
{
    *out << c.firstLine;
}

class MeasureRefuses : public ::testing::TestWithParam<MeasureRefusal> {};

TEST_P(MeasureRefuses, NamingTheValueThenShowingUsage)
{
    const MeasureRefusal& c = GetParam();
    MeasureOptions options;
    std::string errors;
    EXPECT_EQ(readOptions(c.args, options, errors), exitUsage);
    EXPECT_EQ(errors.rfind(c.firstLine, 0), 0u) << errors;
    EXPECT_NE(errors.find("Useage: ravmeasure stimulus.wav recording.wav"), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Values, MeasureRefuses,
    ::testing::Values(
        MeasureRefusal{{"in.wav", "out.wav", "--tail", "-1"}, "--tail -1 refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--tail", "3601"}, "--tail 3601 refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--tail", "1s"}, "--tail 1s refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--tail", "nan"}, "--tail nan refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--play", "system:playback_1"}, "--play system:playback_1 refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--record", "a,b,c"}, "--record a,b,c refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--play", ",b"}, "--play ,b refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--play", "a b,c"}, "--play a b,c refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--server", longName.c_str()},
                       "--server refused: it takes a server's name of up to 63"},
        MeasureRefusal{{"in.wav", "out.wav", "--loopback", "--play", "a,b"}, "--loopback refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--freewheel"}, "--freewheel refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--server", ""}, "--server refused"},
        MeasureRefusal{{"in.wav", "out.wav", "--server"}, "--server refused: it takes a server's name of up to 63"},
        MeasureRefusal{{"in.wav", "out.wav", "--gain", "3"}, "--gain refused: ravmeasure has no such option."},
        MeasureRefusal{{"in.wav", "out.wav", "-5"}, "delay -5 refused"},
        MeasureRefusal{{"-x.wav", "in.wav", "out.wav"}, "-x.wav refused: ravmeasure has no such option."},
        MeasureRefusal{{"in.wav"}, "Useage: "}));

TEST(MeasureOptions, TheStimulusIsNeverOverwritten)
{
    const char* args[] = {"ravmeasure", "measure_options_test_stimulus.wav", "./measure_options_test_stimulus.wav",
                          "--loopback"};
    { std::ofstream(args[1]) << "RIFF"; }
    std::ostringstream facts, errors;
    volatile std::sig_atomic_t stop = 0;
    EXPECT_EQ(runMeasure(4, args, facts, errors, false, stop), exitUsage);
    EXPECT_NE(errors.str().find("is the stimulus itself"), std::string::npos) << errors.str();
    std::remove(args[1]);
}

TEST(MeasureOptions, ARecordingIsNeverWrittenIntoWhatItCannotRewrite)
{
    // The recording's header is rewritten as it grows, so a FIFO or device
    // is refused like a directory, before the server is asked for.
    char folder[] = "/tmp/measure-output-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    ASSERT_EQ(mkdir((dir + "/folder").c_str(), 0777), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0666), 0);
    const bool device = mknod((dir + "/device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const std::pair<std::string, std::string> cases[] = {
        {"folder", "it is a directory."},
        {"fifo", std::string(seekingRefusal) + "."},
        {"device", std::string(seekingRefusal) + "."},
    };
    for (const auto& [name, why] : cases) {
        if (name == "device" && !device)
            continue;  // mknod needs root
        SCOPED_TRACE(name);
        const std::string recording = dir + "/" + name;
        const char* args[] = {"ravmeasure", "no-such-stimulus.wav", recording.c_str(), "--loopback"};
        std::ostringstream facts, errors;
        volatile std::sig_atomic_t stop = 0;
        EXPECT_EQ(runMeasure(4, args, facts, errors, false, stop), exitOpen);
        EXPECT_EQ(errors.str(), "ravmeasure: cannot write " + recording + ": " + why + "\n");
    }
    for (const char* name : {"/device", "/fifo", "/folder"})
        std::remove((dir + name).c_str());
    rmdir(folder);
}

TEST(MeasureOptions, TheMissHookIsCheckedLikeAnOption)
{
    const std::pair<const char*, bool> values[] = {
        {"22050,3", true}, {"0,1", true},     {"abc", false},      {"22050", false},
        {"22050,0", false}, {"-1,3", false}, {"22050,3x", false}, {"22050,1001", false},
    };
    for (const auto& [text, admitted] : values) {
        SCOPED_TRACE(text);
        MeasureOptions options;
        std::ostringstream errors;
        EXPECT_EQ(options.readMissHook(text, errors), admitted ? exitOk : exitUsage);
        EXPECT_EQ(errors.str().empty(), admitted) << errors.str();
        if (admitted) {
            EXPECT_GE(options.missFrame, 0);
        }
    }
    MeasureOptions freewheeling;
    freewheeling.freewheel = true;
    std::ostringstream errors;
    EXPECT_EQ(freewheeling.readMissHook("22050,3", errors), exitUsage);
    EXPECT_NE(errors.str().find("refused with --freewheel"), std::string::npos) << errors.str();
    EXPECT_EQ(freewheeling.readMissHook(nullptr, errors), exitOk);
    EXPECT_EQ(freewheeling.readMissHook("", errors), exitOk);  // set empty: no hook
    EXPECT_EQ(freewheeling.missFrame, -1);
}
