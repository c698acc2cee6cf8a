#include "recording_options.h"

#include "number_text.h"
#include "option_reader.h"

#include <cctype>

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

} // namespace

bool RecordingOptions::owns(const std::string& name)
{
    return name == "--channels" || name == "--reference";
}

bool RecordingOptions::take(const std::string& name, const std::string& value, std::string& refusal)
{
    if (name == "--channels") {
        std::string first, second;
        if (!splitPair(value, first, second) || !readChannel(first, channelA) || !readChannel(second, channelB)) {
            refusal = "--channels " + value + " refused: it takes two channel numbers from 1, as in 1,2.";
            return false;
        }
        channelsGiven = true;
        return true;
    }
    if (value == "1")
        reference = ReferenceChoice::channel1;
    else if (value == "2")
        reference = ReferenceChoice::channel2;
    else if (value == "none")
        reference = ReferenceChoice::none;
    else {
        refusal = "--reference " + value + " refused: it takes 1, 2 or none.";
        return false;
    }
    referenceGiven = true;
    return true;
}
