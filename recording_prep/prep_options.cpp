#include "prep_options.h"

#include "command_line.h"
#include "exit_codes.h"
#include "number_text.h"

#include <cctype>
#include <cstring>
#include <ostream>

namespace {

// A channel number: digits only, 1 or more.
bool readChannel(const std::string& text, int& channel)
{
    if (text.empty() || text.size() > 4)
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    channel = parseInteger(text.c_str());
    return channel >= 1;
}

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
        bool channels = std::strcmp(argv[i], "--channels") == 0;
        bool referenceOption = std::strcmp(argv[i], "--reference") == 0;
        if (!channels && !referenceOption) {
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
        std::string value = argv[++i];
        if (channels) {
            std::size_t comma = value.find(',');
            if (comma == std::string::npos || !readChannel(value.substr(0, comma), channelA)
                || !readChannel(value.substr(comma + 1), channelB))
                return refuse(errors, "--channels " + value + " refused: it takes two channel numbers from 1, "
                                      "as in 1,2.");
            channelsGiven = true;
        } else {
            if (value == "1")
                reference = ReferenceChoice::channel1;
            else if (value == "2")
                reference = ReferenceChoice::channel2;
            else if (value == "none")
                reference = ReferenceChoice::none;
            else
                return refuse(errors, "--reference " + value + " refused: it takes 1, 2 or none.");
            referenceGiven = true;
        }
    }
    // The generator's rules apply to the recording's name and the values
    // after the second file name.
    if (positional.size() < 3 || positional.size() > 7) {
        writeUsage(errors, prepSynopsis);
        return exitUsage;
    }
    recording = positional[1];
    aligned = positional[2];
    std::vector<const char*> values{positional[0], positional[1]};
    values.insert(values.end(), positional.begin() + 3, positional.end());
    return readArguments(static_cast<int>(values.size()), values.data(), prepSynopsis, schedule, errors);
}
