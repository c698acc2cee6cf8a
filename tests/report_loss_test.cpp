#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Program {
    const char* name;
    std::string path;
    std::vector<std::string> args;  // after the path; "@" is the recording
};

// Runs `program` with its report sent to `sink`; the status as the shell sees it.
RunResult runInto(const Program& program, const std::string& recording, const std::string& sink)
{
    std::string command = "'" + program.path + "'";
    for (const std::string& arg : program.args)
        command += " '" + (arg == "@" ? recording : arg) + "'";
    return runProcess("/bin/sh", {"-c", command + " >" + sink});
}

} // namespace

TEST(ReportLoss, AReportThatCannotBeWrittenEndsInItsOwnCode)
{
    TempDir dir;
    std::string recording = dir.file("polar.wav");
    ASSERT_EQ(runGeneratorWith({recording, "100", "1", "2000", "polar"}).code, 0);
    std::vector<Program> programs = {
        {"ravgen", ravgenPath, {dir.file("out.wav"), "100", "1", "2000", "polar"}},
        {"ravan", ravanPath, {"@", "100", "1", "2000", "polar"}},
        {"ravdelay", ravdelayPath, {"@", "100", "1", "2000", "polar"}},
    };
#ifdef RAVPREP_PATH
    programs.push_back({"ravprep", RAVPREP_PATH, {"@", dir.file("aligned.wav"), "100", "1", "2000", "polar"}});
#endif
    for (const Program& program : programs) {
        RunResult lost = runInto(program, recording, "/dev/full");
        EXPECT_EQ(lost.code, 250) << program.name << lost.errors;
        EXPECT_EQ(lost.errors, "Failed to write the report.\n") << program.name;
        RunResult kept = runInto(program, recording, dir.file("report.txt"));
        EXPECT_EQ(kept.code, 0) << program.name << kept.errors;
    }
}
