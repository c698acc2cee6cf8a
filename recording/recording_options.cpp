#include "recording/recording_options.h"

#include "common/number_text.h"
#include "common/option_reader.h"

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

bool readChannels(const std::string& text, int& first, int& second)
{
    std::string a, b;
    return splitPair(text, a, b) && readChannel(a, first) && readChannel(b, second);
}

bool channelPair(const std::string& text)
{
    int first = 0, second = 0;
    return readChannels(text, first, second);
}

} // namespace

std::vector<OptionRule> RecordingOptions::rules()
{
    return {OptionRule::custom("--channels", "A,B", channelPair, "two channel numbers from 1, as in 1,2",
                               "the recording's channels that become channels 1 and 2"),
            OptionRule::choice("--reference", "1|2|none", "the channel that carries the loopback, or none; default: found from the recording")};
}

bool RecordingOptions::owns(const std::string& name)
{
    return name == "--channels" || name == "--reference";
}

void RecordingOptions::take(const std::string& name, const std::string& value)
{
    if (name == "--channels") {
        channelsGiven = readChannels(value, channelA, channelB);
        return;
    }
    reference = value == "1" ? ReferenceChoice::channel1
        : value == "2"       ? ReferenceChoice::channel2
                             : ReferenceChoice::none;
    referenceGiven = true;
}
