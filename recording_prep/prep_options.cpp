#include "recording_prep/prep_options.h"

#include "common/command_line.h"
#include "common/exit_codes.h"

#include <ostream>
#include <vector>

const OptionTable& prepOptionTable()
{
    static const OptionTable table{
        "ravprep",
        "ravprep recording aligned.wav [delay [numAvg [startFreq [sweep|polar]]]] [--channels A,B] "
        "[--reference 1|2|none]",
        RecordingOptions::rules()};
    return table;
}

int PrepOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    const OptionTable& table = prepOptionTable();
    SplitLine line;
    std::string refusal = table.split(argc, argv, line);
    if (!refusal.empty())
        return table.refuse(errors, refusal);
    for (const auto& [name, value] : line.options)
        input.take(name, value);
    // The generator's rules apply to the recording's name and the values
    // after the second file name.
    const std::vector<const char*>& positional = line.positional;
    if (positional.size() < 3 || positional.size() > 7)
        return table.refuseCount(errors);
    input.recording = positional[1];
    aligned = positional[2];
    std::vector<const char*> values{positional[0], positional[1]};
    values.insert(values.end(), positional.begin() + 3, positional.end());
    return readArguments(static_cast<int>(values.size()), values.data(), table.synopsis, input.schedule, errors);
}
