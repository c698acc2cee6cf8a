#include "measure_options.h"

#include "command_line.h"
#include "exit_codes.h"
#include "number_text.h"
#include "option_reader.h"

#include <cmath>
#include <cstring>
#include <ostream>

namespace {

// A name the audio library is handed: printable ASCII without blanks, of
// at most `longest` characters. The library copies names into buffers of
// its own without checking their length; a long one overruns them.
bool fitName(const std::string& name, std::size_t longest)
{
    if (name.empty() || name.size() > longest)
        return false;
    for (char c : name)
        if (c <= ' ' || c > '~')
            return false;
    return true;
}

// "A,B": two port names.
bool readPortPair(const std::string& text, std::vector<std::string>& ports)
{
    std::string first, second;
    if (!splitPair(text, first, second))
        return false;
    ports = {first, second};
    return fitName(first, longestPortName) && fitName(second, longestPortName);
}

} // namespace

int MeasureOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    SplitLine line;
    std::string refusal = line.split(argc, argv,
                                     {{"--loopback", false}, {"--freewheel", false}, {"--play"}, {"--record"},
                                      {"--tail"}, {"--server"}},
                                     "ravmeasure");
    if (!refusal.empty())
        return refuseWithUsage(errors, refusal, measureSynopsis);
    for (const auto& [option, value] : line.options) {
        if (option == "--loopback" || option == "--freewheel") {
            (option == "--loopback" ? loopback : freewheel) = true;
        } else if (option == "--play" || option == "--record") {
            if (!readPortPair(value, option == "--play" ? play : record))
                return refuseWithUsage(errors, option + " " + value + " refused: it takes two port names of printable "
                                                   "characters without blanks, up to "
                                                   + std::to_string(longestPortName)
                                                   + " each, as in system:playback_1,system:playback_2.",
                                       measureSynopsis);
        } else if (option == "--tail") {
            if (!isWholeReal(value.c_str()) || !(parseReal(value.c_str()) >= 0)
                || parseReal(value.c_str()) > longestTail)
                return refuseWithUsage(errors, "--tail " + value + " refused: it takes seconds from 0 to 3600.",
                                       measureSynopsis);
            tailSeconds = parseReal(value.c_str());
        } else {
            if (value.empty())
                return refuseWithUsage(errors, "--server refused: it needs a server name.", measureSynopsis);
            if (!fitName(value, longestServerName))
                return refuseWithUsage(errors, "--server refused: a server's name is up to "
                                                   + std::to_string(longestServerName)
                                                   + " printable characters without blanks.",
                                       measureSynopsis);
            server = value;
        }
    }
    if (loopback && (!play.empty() || !record.empty()))
        return refuseWithUsage(errors, "--loopback refused: it connects ravmeasure to itself, so it takes no --play "
                                       "or --record ports.",
                               measureSynopsis);
    if (freewheel && !loopback)
        return refuseWithUsage(errors, "--freewheel refused: it runs the server without its sound cards, so it goes "
                                       "with --loopback only.",
                               measureSynopsis);
    const std::vector<const char*>& positional = line.positional;
    if (positional.size() < 3 || positional.size() > 7) {
        writeUsage(errors, measureSynopsis);
        return exitUsage;
    }
    stimulus = positional[1];
    recording = positional[2];
    std::vector<const char*> values{positional[0], positional[1]};
    values.insert(values.end(), positional.begin() + 3, positional.end());
    return readArguments(static_cast<int>(values.size()), values.data(), measureSynopsis, schedule, errors);
}
