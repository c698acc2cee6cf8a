#include "common/option_reader.h"

#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/number_text.h"
#include "common/same_file.h"

#include <cstring>
#include <ostream>

std::string OptionTable::split(int argc, const char* const* argv, SplitLine& line) const
{
    line.positional = {argc > 0 ? argv[0] : program};
    line.options.clear();
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        // A negative number is a value that the generator's rules refuse.
        if (word[0] != '-' || isWholeReal(word)) {
            line.positional.push_back(word);
            continue;
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : rules)
            if (std::strcmp(candidate.name, word) == 0)
                rule = &candidate;
        if (rule == nullptr)
            return std::string(word) + " refused: " + program + " has no such option.";
        if (rule->kind == ValueKind::flag) {
            line.options.emplace_back(word, std::string());
            continue;
        }
        if (i + 1 >= argc || !rule->admits(argv[i + 1]))
            return rule->refusal(i + 1 < argc ? argv[i + 1] : "");
        line.options.emplace_back(word, argv[++i]);
    }
    return {};
}

bool OptionTable::helpHandled(int argc, const char* const* argv, std::ostream& report, int& code) const
{
    if (!::helpHandled(argc, argv, synopsis, report, code))
        return false;
    writeOptionHelp(report, rules);
    return true;
}

int OptionTable::refuse(std::ostream& errors, const std::string& line) const
{
    errors << line << std::endl;
    return refuseCount(errors);
}

int OptionTable::refuseCount(std::ostream& errors) const
{
    writeUsage(errors, synopsis);
    return exitUsage;
}

bool OptionTable::outputIsInput(const std::string& input, const char* inputNoun, const std::string& output,
                                std::ostream& errors) const
{
    if (!sameFile(input, output))
        return false;
    refuse(errors, "Refused: " + output + " is " + inputNoun + " itself; name another file to write.");
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
