#include "fit_options.h"

#include "command_line.h"
#include "exit_codes.h"
#include "impulse_fit.h"
#include "number_text.h"
#include "report_format.h"

#include <ostream>
#include <vector>

namespace {

constexpr int mostPointsPerOctave = 96;

int refuse(std::ostream& errors, const std::string& line)
{
    errors << line << std::endl;
    writeUsage(errors, fitSynopsis);
    return exitUsage;
}

bool ownOption(const std::string& name)
{
    return name == "--gate" || name == "--ppo" || name == "--ir";
}

} // namespace

int FitOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    std::vector<const char*> positional{argc > 0 ? argv[0] : "ravfit"};
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (!RecordingOptions::owns(name) && !ownOption(name)) {
            // A name that begins with '-' is an unknown option, not a file
            // (reach one as ./-name); a negative number is a value that the
            // generator's rules refuse.
            if (argv[i][0] == '-' && !isWholeReal(argv[i]))
                return refuse(errors, name + " refused: ravfit has no such option.");
            positional.push_back(argv[i]);
            continue;
        }
        if (i + 1 >= argc)
            return refuse(errors, name + " refused: it needs a value.");
        std::string value = argv[++i];
        std::string refusal;
        if (RecordingOptions::owns(name)) {
            if (!input.take(name, value, refusal))
                return refuse(errors, refusal);
        } else if (name == "--gate") {
            const double longest = sweepTaps / sampleRate * 1000;
            gateMs = isWholeReal(value.c_str()) ? parseReal(value.c_str()) : 0;
            if (!(gateMs > 0 && gateMs <= longest))
                return refuse(errors, "--gate " + value + " refused: it takes milliseconds above 0, at most "
                                          + fixedText(longest, 1) + ".");
        } else if (name == "--ppo") {
            pointsPerOctave = isWholeInteger(value.c_str()) && value.size() < 4 ? parseInteger(value.c_str()) : 0;
            if (pointsPerOctave < 1 || pointsPerOctave > mostPointsPerOctave)
                return refuse(errors, "--ppo " + value + " refused: it takes a whole number of points per octave, "
                                          "1 to " + std::to_string(mostPointsPerOctave) + ".");
        } else {
            if (value.empty())
                return refuse(errors, "--ir refused: it needs a file name.");
            impulseFile = value;
        }
    }
    if (positional.size() < 2 || positional.size() > 6) {
        writeUsage(errors, fitSynopsis);
        return exitUsage;
    }
    input.recording = positional[1];
    int code = readArguments(static_cast<int>(positional.size()), positional.data(), fitSynopsis, input.schedule,
                             errors);
    if (code == exitOk && pointsPerOctave > 0 && !input.schedule.sweep)
        return refuse(errors, "--ppo refused: a polar run has one frequency; its rows are its steps.");
    return code;
}
