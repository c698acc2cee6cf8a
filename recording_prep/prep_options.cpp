#include "prep_options.h"

#include "command_line.h"
#include "exit_codes.h"
#include "number_text.h"

#include <ostream>
#include <vector>

namespace {

int refuse(std::ostream& errors, const std::string& line)
{
    errors << line << std::endl;
    writeUsage(errors, prepSynopsis);
    return exitUsage;
}

} // namespace

int PrepOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    std::vector<const char*> positional{argc > 0 ? argv[0] : "ravprep"};
    for (int i = 1; i < argc; ++i) {
        if (!RecordingOptions::owns(argv[i])) {
            // Options may stand first, so a name that begins with '-' is
            // an unknown option, not a file (reach one as ./-name); a
            // negative number is a value that the generator's rules refuse.
            if (argv[i][0] == '-' && !isWholeReal(argv[i]))
                return refuse(errors, std::string(argv[i]) + " refused: ravprep has no such option.");
            positional.push_back(argv[i]);
            continue;
        }
        if (i + 1 >= argc)
            return refuse(errors, std::string(argv[i]) + " refused: it needs a value.");
        std::string refusal;
        if (!input.take(argv[i], argv[i + 1], refusal))
            return refuse(errors, refusal);
        ++i;
    }
    // The generator's rules apply to the recording's name and the values
    // after the second file name.
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
