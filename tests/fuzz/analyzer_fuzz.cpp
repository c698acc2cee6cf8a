// Feeds arbitrary bytes as a recording to the analyzer's and the delay
// finder's main flows. The first byte picks one of a handful of command
// lines; the rest is the file.
#include "analyzer/analyzer.h"
#include "delay_finder/delay_finder.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

namespace {

const char* const commandLines[][6] = {
    {"ravan", "rec.wav", "0", "1", nullptr, nullptr},
    {"ravan", "rec.wav", "0", "2", "1000", "polar"},
    {"ravan", "rec.wav", "3", "0", nullptr, nullptr},
    {"ravan", "rec.wav", "1", "1", "20000", nullptr},
    {"ravan", "rec.wav", "0", "1", "88200", "p"},
    {"ravan", "rec.wav", "0", "1", "0.5", "polar"},
    {"ravan", "rec.wav", "1000000000", nullptr, nullptr, nullptr},
    {"ravan", "rec.wav", nullptr, nullptr, nullptr, nullptr},
};
constexpr std::size_t commandLineCount = sizeof commandLines / sizeof commandLines[0];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char* const* argv = commandLines[data[0] % commandLineCount];
    int argc = 0;
    while (argc < 6 && argv[argc] != nullptr)
        ++argc;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::istringstream recording(bytes);
    std::ostringstream report, errors;
    runAnalyzer(argc, argv, recording, report, errors);
    std::istringstream again(bytes);
    runDelayFinder(argc, argv, again, report, errors);
    return 0;
}
