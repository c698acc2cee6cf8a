#include "tests/test_support.h"

#include "analyzer/analyzer.h"
#include "common/command_line.h"
#include "common/little_endian.h"
#include "delay_finder/delay_finder.h"
#include "generator/generator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>

const char* const ravgenPath = RAVGEN_PATH;
const char* const ravanPath = RAVAN_PATH;
const char* const ravdelayPath = RAVDELAY_PATH;

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/toneburst-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        std::abort();
    path = name.data();
}

TempDir::~TempDir()
{
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", path.c_str());
}

std::vector<const char*> argvOf(const char* program, const std::vector<std::string>& args)
{
    std::vector<const char*> argv{program};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    return argv;
}

namespace {

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

} // namespace

RunResult runFlow(const FlowFunction& flow, const char* program, const std::vector<std::string>& args)
{
    std::vector<const char*> argv = argvOf(program, args);
    std::ostringstream report, errors;
    RunResult result;
    result.code = flow(static_cast<int>(argv.size()), argv.data(), report, errors);
    result.report = report.str();
    result.errors = errors.str();
    return result;
}

RunResult runGeneratorWith(const std::vector<std::string>& args)
{
    return runFlow(runGenerator, "ravgen", args);
}

namespace {

using RecordingFlow = int (*)(int, const char* const*, std::istream&, std::ostream&, std::ostream&);

RunResult runOnRecording(RecordingFlow flow, const char* program, std::istream& in,
                         const std::vector<std::string>& args)
{
    std::vector<std::string> all{"rec.wav"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv = argvOf(program, all);
    std::ostringstream report, errors;
    RunResult result;
    result.code = flow(static_cast<int>(argv.size()), argv.data(), in, report, errors);
    result.report = report.str();
    result.errors = errors.str();
    return result;
}

} // namespace

RunResult runAnalyzerOn(const std::string& recording, const std::vector<std::string>& args)
{
    std::istringstream in(recording);
    return runOnRecording(runAnalyzer, "ravan", in, args);
}

RunResult runAnalyzerOnStream(std::istream& recording, const std::vector<std::string>& args)
{
    return runOnRecording(runAnalyzer, "ravan", recording, args);
}

RunResult runDelayFinderOn(const std::string& recording, const std::vector<std::string>& args)
{
    std::istringstream in(recording);
    return runOnRecording(runDelayFinder, "ravdelay", in, args);
}

BurstSchedule scheduleFor(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"rec.wav"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv = argvOf("ravan", all);
    BurstSchedule schedule;
    std::ostringstream errors;
    readArguments(static_cast<int>(argv.size()), argv.data(), analyzerSynopsis, schedule, errors);
    return schedule;
}

RunResult runProcess(const std::string& program, const std::vector<std::string>& args)
{
    TempDir capture;
    std::string command = quoted(program);
    for (const std::string& arg : args)
        command += " " + quoted(arg);
    command += " >" + capture.file("out") + " 2>" + capture.file("err");
    int status = std::system(command.c_str());
    RunResult result;
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    result.report = readFile(capture.file("out"));
    result.errors = readFile(capture.file("err"));
    return result;
}

std::string readFile(const std::string& path)
{
    // Read in one piece where the file is a regular one (a test recording
    // is tens of megabytes); through the stream where it is not (a FIFO,
    // which can be opened and read only once).
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        std::ifstream in(path, std::ios::binary);
        std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return bytes;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::int16_t sampleAt(const std::string& wav, std::int64_t frame, int channel)
{
    std::size_t offset = static_cast<std::size_t>(44 + 4 * frame + 2 * channel);
    const unsigned char bytes[2] = {static_cast<unsigned char>(wav.at(offset)),
                                    static_cast<unsigned char>(wav.at(offset + 1))};
    return littleEndian16(bytes);
}

std::vector<std::vector<std::string>> reportRows(const std::string& report)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(report);
    std::string line;
    bool afterHeader = false;
    while (std::getline(lines, line)) {
        if (!afterHeader) {
            afterHeader = line.rfind("numCyc\t", 0) == 0 || line.rfind("freq\t", 0) == 0;
            continue;
        }
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t'))
            fields.push_back(cell);
        rows.push_back(fields);
    }
    return rows;
}

const std::string& generatedFile(const std::vector<std::string>& args)
{
    static std::map<std::vector<std::string>, std::string> cache;
    auto found = cache.find(args);
    if (found != cache.end())
        return found->second;
    TempDir dir;
    std::vector<std::string> all{dir.file("g.wav")};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_EQ(runGeneratorWith(all).code, 0);
    return cache.emplace(args, readFile(dir.file("g.wav"))).first->second;
}
