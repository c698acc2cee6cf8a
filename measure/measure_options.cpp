#include "measure_options.h"

#include "command_line.h"
#include "exit_codes.h"
#include "number_text.h"

#include <cmath>
#include <cstring>
#include <ostream>

namespace {

int refuse(std::ostream& errors, const std::string& line)
{
    errors << line << std::endl;
    writeUsage(errors, measureSynopsis);
    return exitUsage;
}

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

// "A,B": two port names, neither empty.
bool readPortPair(const std::string& text, std::vector<std::string>& ports)
{
    std::size_t comma = text.find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == text.size()
        || text.find(',', comma + 1) != std::string::npos)
        return false;
    ports = {text.substr(0, comma), text.substr(comma + 1)};
    return fitName(ports[0], longestPortName) && fitName(ports[1], longestPortName);
}

} // namespace

int MeasureOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    std::vector<const char*> positional{argc > 0 ? argv[0] : "ravmeasure"};
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        // A negative number is a value that the generator's rules refuse.
        if (option.empty() || option[0] != '-' || isWholeReal(option.c_str())) {
            positional.push_back(argv[i]);
            continue;
        }
        if (option == "--loopback" || option == "--freewheel") {
            (option == "--loopback" ? loopback : freewheel) = true;
            continue;
        }
        if (option != "--play" && option != "--record" && option != "--tail" && option != "--server")
            return refuse(errors, option + " refused: ravmeasure has no such option.");
        if (i + 1 >= argc)
            return refuse(errors, option + " refused: it needs a value.");
        const std::string value = argv[++i];
        if (option == "--play" || option == "--record") {
            if (!readPortPair(value, option == "--play" ? play : record))
                return refuse(errors, option + " " + value + " refused: it takes two port names of printable "
                                      "characters without blanks, up to " + std::to_string(longestPortName)
                                      + " each, as in system:playback_1,system:playback_2.");
        } else if (option == "--tail") {
            if (!isWholeReal(value.c_str()) || !(parseReal(value.c_str()) >= 0)
                || parseReal(value.c_str()) > longestTail)
                return refuse(errors, "--tail " + value + " refused: it takes seconds from 0 to 3600.");
            tailSeconds = parseReal(value.c_str());
        } else {
            if (value.empty())
                return refuse(errors, "--server refused: it needs a server name.");
            if (!fitName(value, longestServerName))
                return refuse(errors, "--server refused: a server's name is up to "
                                          + std::to_string(longestServerName)
                                          + " printable characters without blanks.");
            server = value;
        }
    }
    if (loopback && (!play.empty() || !record.empty()))
        return refuse(errors, "--loopback refused: it connects ravmeasure to itself, so it takes no --play or "
                              "--record ports.");
    if (freewheel && !loopback)
        return refuse(errors, "--freewheel refused: it runs the server without its sound cards, so it goes "
                              "with --loopback only.");
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
