// Every program that writes a file follows one rule: a regular file or a
// new name is replaced whole, a link is followed and its target replaced
// (the link stays), a character device is written through and stays a
// device, a directory or an empty name is refused with -2 naming the file.
#include "common/exit_codes.h"
#include "fit/fit.h"
#include "recording_prep/prep.h"
#include "simulator/simulator.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const std::vector<std::string> polarRun{"100", "1", "2000", "polar"};

struct Writer {
    const char* name;
    std::function<RunResult(const std::string& input, const std::string& output)> run;
};

const Writer writers[] = {
    {"ravprep",
     [](const std::string& in, const std::string& out) {
         std::vector<std::string> args{in, out};
         args.insert(args.end(), polarRun.begin(), polarRun.end());
         return runFlow(runPrep, "ravprep", args);
     }},
    {"ravfit",
     [](const std::string& in, const std::string& out) {
         std::vector<std::string> args{in};
         args.insert(args.end(), polarRun.begin(), polarRun.end());
         args.insert(args.end(), {"--ir", out});
         return runFlow(runFit, "ravfit", args);
     }},
    {"ravsim",
     [](const std::string& in, const std::string& out) {
         return runFlow(runSimulator, "ravsim", {in, out, "--gain", "-3"});
     }},
};

enum class Place { regularFile, newName, link, linkToMissing, characterDevice, directory, emptyName };

struct Case {
    const char* name;
    Place place;
};

const Case cases[] = {
    {"RegularFile", Place::regularFile},         {"NewName", Place::newName},
    {"Link", Place::link},                       {"LinkToMissingTarget", Place::linkToMissing},
    {"CharacterDevice", Place::characterDevice}, {"Directory", Place::directory},
    {"EmptyName", Place::emptyName},
};

bool isLink(const std::string& path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool isCharacterDevice(const std::string& path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
}

class OutputRule : public ::testing::TestWithParam<std::tuple<Writer, Case>> {};

TEST_P(OutputRule, ReplacesWholeFollowsLinksWritesThroughDevicesRefusesTheRest)
{
    const Writer& writer = std::get<0>(GetParam());
    const Case& c = std::get<1>(GetParam());
    TempDir dir;
    const std::string input = dir.file("in.wav");
    writeFile(input, generatedFile(polarRun));
    std::string output = dir.file("out.wav");
    std::string written = output;  // where the new content must arrive
    switch (c.place) {
    case Place::regularFile: writeFile(output, "old"); break;
    case Place::newName: break;
    case Place::link:
        writeFile(dir.file("target.wav"), "old");
        ASSERT_EQ(symlink("target.wav", output.c_str()), 0);
        written = dir.file("target.wav");
        break;
    case Place::linkToMissing:
        ASSERT_EQ(symlink("missing.wav", output.c_str()), 0);
        written = dir.file("missing.wav");
        break;
    case Place::characterDevice:
        // The null device's numbers, made in this test's own folder.
        if (mknod(output.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            GTEST_SKIP() << "mknod needs root";
        break;
    case Place::directory: ASSERT_EQ(mkdir(output.c_str(), 0777), 0); break;
    case Place::emptyName: output = ""; break;
    }
    RunResult result = writer.run(input, output);
    if (c.place == Place::emptyName && std::string(writer.name) == "ravfit") {
        // An option's empty value is refused as a value, with the usage.
        EXPECT_EQ(result.code, exitUsage);
        EXPECT_EQ(result.errors.rfind("--ir refused: it takes a file name.\n", 0), 0u) << result.errors;
        return;
    }
    if (c.place == Place::directory || c.place == Place::emptyName) {
        EXPECT_EQ(result.code, exitOpen) << result.errors;
        EXPECT_NE(result.errors.find(output + ": "), std::string::npos) << result.errors;
        EXPECT_NE(result.errors.find(c.place == Place::directory ? "it is a directory" : "an empty name"),
                  std::string::npos)
            << result.errors;
        return;
    }
    ASSERT_EQ(result.code, exitOk) << result.errors;
    if (c.place == Place::characterDevice) {
        EXPECT_TRUE(isCharacterDevice(output));
        return;
    }
    EXPECT_EQ(readFile(written).substr(0, 4), "RIFF");
    EXPECT_EQ(isLink(output), c.place == Place::link || c.place == Place::linkToMissing);
}

void PrintTo(const Writer& writer, std::ostream* out)
{
    *out << writer.name;
}

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Writer, Case>>& info)
{
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, OutputRule,
                         ::testing::Combine(::testing::ValuesIn(writers), ::testing::ValuesIn(cases)), caseName);

} // namespace
