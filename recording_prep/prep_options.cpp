#include "prep_options.h"

#include "command_line.h"
#include "exit_codes.h"
#include "option_reader.h"

#include <ostream>
#include <vector>

int PrepOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    SplitLine line;
    std::string refusal = line.split(argc, argv, {{"--channels"}, {"--reference"}}, "ravprep");
    if (!refusal.empty())
        return refuseWithUsage(errors, refusal, prepSynopsis);
    for (const auto& option : line.options)
        if (!input.take(option.first, option.second, refusal))
            return refuseWithUsage(errors, refusal, prepSynopsis);
    // The generator's rules apply to the recording's name and the values
    // after the second file name.
    const std::vector<const char*>& positional = line.positional;
    if (positional.size() < 3 || positional.size() > 7) {
        writeUsage(errors, prepSynopsis);
        return exitUsage;
    }
    input.recording = positional[1];
    aligned = positional[2];
    std::vector<const char*> values{positional[0], positional[1]};
    values.insert(values.end(), positional.begin() + 3, positional.end());
    return readArguments(static_cast<int>(values.size()), values.data(), prepSynopsis, input.schedule, errors);
}
