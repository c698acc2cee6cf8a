#include "option_reader.h"

#include "command_line.h"
#include "exit_codes.h"
#include "number_text.h"
#include "same_file.h"

#include <cstring>
#include <ostream>

std::string SplitLine::split(int argc, const char* const* argv, const std::vector<OptionRule>& rules,
                             const char* program)
{
    positional = {argc > 0 ? argv[0] : program};
    options.clear();
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        // A negative number is a value that the generator's rules refuse.
        if (word[0] != '-' || isWholeReal(word)) {
            positional.push_back(word);
            continue;
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : rules)
            if (std::strcmp(candidate.name, word) == 0)
                rule = &candidate;
        if (rule == nullptr)
            return std::string(word) + " refused: " + program + " has no such option.";
        if (!rule->takesValue) {
            options.emplace_back(word, std::string());
            continue;
        }
        if (i + 1 >= argc)
            return std::string(word) + " refused: it needs a value.";
        options.emplace_back(word, argv[++i]);
    }
    return {};
}

int refuseWithUsage(std::ostream& errors, const std::string& line, const char* synopsis)
{
    errors << line << std::endl;
    writeUsage(errors, synopsis);
    return exitUsage;
}

bool outputIsInput(const std::string& input, const std::string& output, const char* synopsis, std::ostream& errors)
{
    if (!sameFile(input, output))
        return false;
    refuseWithUsage(errors, "Refused: " + output + " is the recording itself; name another file to write.", synopsis);
    return true;
}

bool splitPair(const std::string& text, std::string& first, std::string& second)
{
    std::size_t comma = text.find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == text.size()
        || text.find(',', comma + 1) != std::string::npos)
        return false;
    first = text.substr(0, comma);
    second = text.substr(comma + 1);
    return true;
}
