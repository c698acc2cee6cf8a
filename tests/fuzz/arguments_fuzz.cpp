// Feeds arbitrary argument strings to the programs' shared argument handling
// and to the options layer (through ravsim's table, the largest): the input
// is split at zero bytes into at most six words after the program name.
#include "common/burst_schedule.h"
#include "common/command_line.h"
#include "common/number_text.h"
#include "simulator/sim_options.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> words{""};
    for (std::size_t i = 0; i < size && words.size() <= 6; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back() += static_cast<char>(data[i]);
    }
    for (const std::string& word : words) {
        parseInteger(word.c_str());
        parseReal(word.c_str());
    }
    std::vector<const char*> argv{"ravgen"};
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    for (const char* synopsis : {generatorSynopsis, analyzerSynopsis}) {
        BurstSchedule schedule;
        std::ostringstream errors;
        readArguments(static_cast<int>(argv.size()), argv.data(), synopsis, schedule, errors);
    }
    SimOptions options;
    std::ostringstream errors;
    options.read(static_cast<int>(argv.size()), argv.data(), errors);
    return 0;
}
