#pragma once

#include "common/burst_schedule.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

/// A fresh directory under the system's temporary folder, removed with its
/// files when the value goes out of scope.
struct TempDir {
    std::string path;

    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }
};

/// `program` followed by `args`, as a main's argv (pointing into `args`).
std::vector<const char*> argvOf(const char* program, const std::vector<std::string>& args);

/// The schedule the programs build from `args` after the file name.
BurstSchedule scheduleFor(const std::vector<std::string>& args);

/// What a program's flow or process left behind.
struct RunResult {
    int code = 0;
    std::string report;
    std::string errors;
};

/// A main flow that writes a report and errors and reads no stream.
using FlowFunction = std::function<int(int, const char* const*, std::ostream&, std::ostream&)>;

/// Runs `flow` in-process as `program` with `args` after the program name.
RunResult runFlow(const FlowFunction& flow, const char* program, const std::vector<std::string>& args);

/// Runs a main flow in-process with `args` after the program name (after
/// the file name "rec.wav" for the readers of a recording).
RunResult runGeneratorWith(const std::vector<std::string>& args);
RunResult runAnalyzerOn(const std::string& recording, const std::vector<std::string>& args);
RunResult runAnalyzerOnStream(std::istream& recording, const std::vector<std::string>& args);
RunResult runDelayFinderOn(const std::string& recording, const std::vector<std::string>& args);

/// The generator's file for `args` (after the file name), written on first
/// use and kept for the rest of the test process. ctest runs every test in
/// a process of its own, so the cache serves the cases within one test.
const std::string& generatedFile(const std::vector<std::string>& args = {});

/// Runs a built program as a process; `code` is its 8-bit exit status.
RunResult runProcess(const std::string& program, const std::vector<std::string>& args);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

/// The 16-bit sample of `channel` (0 or 1) in frame `frame` after byte 44.
std::int16_t sampleAt(const std::string& wav, std::int64_t frame, int channel);

/// The report's rows: the lines after the column header (of steps or of
/// a frequency grid), split at tabs.
std::vector<std::vector<std::string>> reportRows(const std::string& report);

/// Paths of the built programs.
extern const char* const ravgenPath;
extern const char* const ravanPath;
extern const char* const ravdelayPath;
