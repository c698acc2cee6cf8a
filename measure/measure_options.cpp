#include "measure/measure_options.h"

#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/number_text.h"

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

bool serverName(const std::string& name)
{
    return fitName(name, longestServerName);
}

// "A,B": two port names.
bool portPair(const std::string& text)
{
    std::string first, second;
    return splitPair(text, first, second) && fitName(first, longestPortName) && fitName(second, longestPortName);
}

} // namespace

const OptionTable& measureOptionTable()
{
    static const std::string portsTaken = "two port names of printable characters without blanks, up to "
        + std::to_string(longestPortName) + " each, as in system:playback_1,system:playback_2";
    static const OptionTable table{
        "ravmeasure",
        "ravmeasure stimulus.wav recording.wav [delay [numAvg [startFreq [sweep|polar]]]] "
        "[--play PORT1,PORT2 | --loopback [--freewheel]] [--record PORT1,PORT2] [--tail SECONDS] [--server NAME]",
        {OptionRule::custom("--play", "PORT1,PORT2", portPair, portsTaken,
                            "the ports the stimulus plays to; default: the first physical ones"),
         OptionRule::flag("--loopback", "connect ravmeasure's outputs to its own inputs"),
         OptionRule::flag("--freewheel", "with --loopback: the server runs as fast as it can"),
         OptionRule::custom("--record", "PORT1,PORT2", portPair, portsTaken,
                            "the ports recorded from; default: the first physical ones"),
         OptionRule::real("--tail", "SECONDS", "seconds", 0, longestTail,
                          "recorded after the stimulus's last frame; default 1"),
         OptionRule::custom("--server", "NAME", serverName,
                            "a server's name of up to " + std::to_string(longestServerName)
                                + " printable characters without blanks",
                            "the server to use; default: the default server")}};
    return table;
}

int MeasureOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    const OptionTable& table = measureOptionTable();
    SplitLine line;
    std::string refusal = table.split(argc, argv, line);
    if (!refusal.empty())
        return table.refuse(errors, refusal);
    for (const auto& [name, value] : line.options) {
        if (name == "--loopback" || name == "--freewheel") {
            (name == "--loopback" ? loopback : freewheel) = true;
        } else if (name == "--play" || name == "--record") {
            std::string first, second;
            splitPair(value, first, second);   // the rule admitted the pair
            (name == "--play" ? play : record) = {first, second};
        } else if (name == "--tail") {
            tailSeconds = parseReal(value.c_str());
        } else {
            server = value;
        }
    }
    if (loopback && (!play.empty() || !record.empty()))
        return table.refuse(errors, "--loopback refused: it connects ravmeasure to itself, so it takes no --play "
                                    "or --record ports.");
    if (freewheel && !loopback)
        return table.refuse(errors, "--freewheel refused: it runs the server without its sound cards, so it goes "
                                    "with --loopback only.");
    const std::vector<const char*>& positional = line.positional;
    if (positional.size() < 3 || positional.size() > 7)
        return table.refuseCount(errors);
    stimulus = positional[1];
    recording = positional[2];
    std::vector<const char*> values{positional[0], positional[1]};
    values.insert(values.end(), positional.begin() + 3, positional.end());
    return readArguments(static_cast<int>(values.size()), values.data(), table.synopsis, schedule, errors);
}

int MeasureOptions::readMissHook(const char* text, std::ostream& errors)
{
    if (text == nullptr || *text == '\0')
        return exitOk;  // not set, or set empty: no hook
    const std::string value = text;
    const std::size_t comma = value.find(',');
    const std::string frame = value.substr(0, comma), cycles = comma == std::string::npos ? "" : value.substr(comma + 1);
    const bool wellFormed = comma != std::string::npos && isWholeInteger(frame.c_str()) && isWholeInteger(cycles.c_str())
        && parseInteger(frame.c_str()) >= 0 && parseInteger(cycles.c_str()) >= 1 && parseInteger(cycles.c_str()) <= 1000;
    if (!wellFormed) {
        errors << "RAVMEASURE_MISS refused: it takes FRAME,CYCLES, a stimulus frame from 0 and a number of cycles "
                  "from 1 to 1000 (a testing aid: the client misses those cycles)."
               << std::endl;
        return exitUsage;
    }
    if (freewheel) {
        errors << "RAVMEASURE_MISS refused with --freewheel: a freewheeling server runs no cycles in real time, so "
                  "none can be missed."
               << std::endl;
        return exitUsage;
    }
    missFrame = parseInteger(frame.c_str());
    missCycles = parseInteger(cycles.c_str());
    return exitOk;
}
