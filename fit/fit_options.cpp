#include "fit_options.h"

#include "command_line.h"
#include "exit_codes.h"
#include "impulse_fit.h"
#include "number_text.h"
#include "option_reader.h"
#include "report_format.h"

#include <ostream>
#include <vector>

namespace {

constexpr int mostPointsPerOctave = 96;

} // namespace

int FitOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    SplitLine line;
    std::string refusal = line.split(argc, argv, {{"--channels"}, {"--reference"}, {"--gate"}, {"--ppo"}, {"--ir"}},
                                      "ravfit");
    if (!refusal.empty())
        return refuseWithUsage(errors, refusal, fitSynopsis);
    for (const auto& [name, value] : line.options) {
        if (RecordingOptions::owns(name)) {
            if (!input.take(name, value, refusal))
                return refuseWithUsage(errors, refusal, fitSynopsis);
        } else if (name == "--gate") {
            const double longest = sweepTaps / sampleRate * 1000;
            gateMs = isWholeReal(value.c_str()) ? parseReal(value.c_str()) : 0;
            if (!(gateMs > 0 && gateMs <= longest))
                return refuseWithUsage(errors, "--gate " + value + " refused: it takes milliseconds above 0, at most "
                                                   + fixedText(longest, 1) + ".", fitSynopsis);
        } else if (name == "--ppo") {
            pointsPerOctave = isWholeInteger(value.c_str()) && value.size() < 4 ? parseInteger(value.c_str()) : 0;
            if (pointsPerOctave < 1 || pointsPerOctave > mostPointsPerOctave)
                return refuseWithUsage(errors, "--ppo " + value + " refused: it takes a whole number of points per "
                                                  "octave, 1 to " + std::to_string(mostPointsPerOctave) + ".",
                                       fitSynopsis);
        } else {
            if (value.empty())
                return refuseWithUsage(errors, "--ir refused: it needs a file name.", fitSynopsis);
            impulseFile = value;
        }
    }
    const std::vector<const char*>& positional = line.positional;
    if (positional.size() < 2 || positional.size() > 6) {
        writeUsage(errors, fitSynopsis);
        return exitUsage;
    }
    input.recording = positional[1];
    int code = readArguments(static_cast<int>(positional.size()), positional.data(), fitSynopsis, input.schedule,
                             errors);
    if (code == exitOk && pointsPerOctave > 0 && !input.schedule.sweep)
        return refuseWithUsage(errors, "--ppo refused: a polar run has one frequency; its rows are its steps.",
                               fitSynopsis);
    return code;
}
