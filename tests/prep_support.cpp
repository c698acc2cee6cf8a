#include "tests/prep_support.h"

#include "recording_prep/prep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

RunResult runPrepWith(const std::vector<std::string>& args)
{
    return runFlow(runPrep, "ravprep", args);
}

double valueAfter(const std::string& report, const std::string& label)
{
    std::size_t at = report.find(label);
    return at == std::string::npos ? NAN : std::strtod(report.c_str() + at + label.size(), nullptr);
}

PrepRun prepareBytes(const std::string& recording, const std::vector<std::string>& args)
{
    TempDir dir;
    writeFile(dir.file("rec"), recording);
    std::vector<std::string> all{dir.file("rec"), dir.file("aligned.wav")};
    all.insert(all.end(), args.begin(), args.end());
    RunResult result = runPrepWith(all);
    PrepRun run;
    run.code = result.code;
    run.report = result.report;
    run.errors = result.errors;
    run.aligned = readFile(dir.file("aligned.wav"));
    run.recording = recording;
    run.clock = valueAfter(run.report, "clock:\t");
    run.residual = valueAfter(run.report, "residual:\t");
    run.flight = valueAfter(run.report, "time of flight:\t");
    return run;
}

std::string recordedBytes(const SyntheticRecording& recording)
{
    TempDir dir;
    recording.write(dir.file("rec"));
    return readFile(dir.file("rec"));
}

PrepRun prepare(const SyntheticRecording& recording, const std::vector<std::string>& extra)
{
    std::vector<std::string> args = recording.args;
    args.insert(args.end(), extra.begin(), extra.end());
    return prepareBytes(recordedBytes(recording), args);
}

std::string sameClockRecording(SyntheticRecording recording)
{
    recording.rate = 44100;
    recording.ppm = 0;
    recording.ppmChangeAt = -1;
    recording.latencyFrames = 0;
    recording.leadSeconds = 0;
    recording.format = 0;
    recording.fileChannels = 2;
    recording.listChunk = false;
    recording.edits.clear();
    recording.damage.clear();
    if (recording.channels[1].gain == 0)
        recording.channels[1] = recording.channels[0];
    TempDir dir;
    recording.write(dir.file("same.wav"));
    return readFile(dir.file("same.wav"));
}

namespace {

double wrapped(double radians)
{
    return std::remainder(radians, 2 * std::acos(-1.0));
}

} // namespace

Departure compare(const std::string& aligned, const std::string& reference, const std::vector<std::string>& args)
{
    auto rows = reportRows(runAnalyzerOn(aligned, args).report);
    auto expected = reportRows(runAnalyzerOn(reference, args).report);
    Departure worst;
    EXPECT_EQ(rows.size(), expected.size());
    for (std::size_t r = 0; r < std::min(rows.size(), expected.size()); ++r) {
        auto at = [&](const std::vector<std::vector<std::string>>& t, int column) {
            return std::strtod(t[r][static_cast<std::size_t>(column)].c_str(), nullptr);
        };
        if (std::isinf(at(rows, 6)) || std::isinf(at(rows, 7))) {
            ++worst.silentRows;
            continue;
        }
        for (int column : {6, 7})
            worst.level = std::max(worst.level, std::fabs(at(rows, column) - at(expected, column)));
        if (at(expected, 6) > -30) {
            ++worst.passbandRows;
            worst.passbandLevel = std::max(worst.passbandLevel, std::fabs(at(rows, 6) - at(expected, 6)));
        }
        for (int column : {9, 10})
            worst.phase = std::max(worst.phase, std::fabs(wrapped(at(rows, column) - at(expected, column))));
        worst.diffLevel = std::max(worst.diffLevel, std::fabs(at(rows, 8) - at(expected, 8)));
        worst.diffPhase = std::max(worst.diffPhase, std::fabs(wrapped(at(rows, 11) - at(expected, 11))));
    }
    return worst;
}
