#include "common/option_rule.h"

#include "common/number_text.h"
#include "common/report_format.h"

#include <cmath>
#include <cstring>
#include <ostream>

namespace {

// A range's end as the refusals write it: whole values without a point.
std::string endText(double value)
{
    return fixedText(value, value == std::floor(value) ? 0 : 1);
}

std::string rangeText(double low, double high, bool lowIncluded, bool highIncluded)
{
    if (lowIncluded && highIncluded)
        return "from " + endText(low) + " to " + endText(high);
    return (lowIncluded ? "from " : "above ") + endText(low) + (highIncluded ? ", at most " : " and below ")
        + endText(high);
}

// "1|2|none" -> "1, 2 or none".
std::string choiceText(const char* choices)
{
    std::string text = choices;
    std::size_t last = text.rfind('|');
    if (last != std::string::npos)
        text.replace(last, 1, " or ");
    for (std::size_t bar = text.find('|'); bar != std::string::npos; bar = text.find('|'))
        text.replace(bar, 1, ", ");
    return text;
}

bool isChoice(const std::string& value, const char* choices)
{
    const std::string all = std::string("|") + choices + "|";
    return !value.empty() && value.find('|') == std::string::npos && all.find("|" + value + "|") != std::string::npos;
}

bool withinRange(double value, const OptionRule& rule)
{
    return (rule.lowIncluded ? value >= rule.low : value > rule.low)
        && (rule.highIncluded ? value <= rule.high : value < rule.high);
}

// Whether the refusal can show the value: short, and without characters
// that would break its line.
bool showable(const std::string& value)
{
    if (value.empty() || value.size() > 64)
        return false;
    for (char c : value)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F)
            return false;
    return true;
}

} // namespace

OptionRule OptionRule::flag(const char* name, const char* help)
{
    return {name, ValueKind::flag, "", "", help};
}

OptionRule OptionRule::real(const char* name, const char* valueName, const char* unit, double low, double high,
                            const char* help, bool lowIncluded, bool highIncluded)
{
    OptionRule rule{name, ValueKind::real, valueName,
                    std::string(unit) + " " + rangeText(low, high, lowIncluded, highIncluded), help, low, high};
    rule.lowIncluded = lowIncluded;
    rule.highIncluded = highIncluded;
    return rule;
}

OptionRule OptionRule::whole(const char* name, const char* valueName, const char* unit, double low, double high,
                             const char* help)
{
    return {name, ValueKind::whole, valueName,
            std::string("a whole number of ") + unit + " " + rangeText(low, high, true, true), help, low, high};
}

OptionRule OptionRule::text(const char* name, const char* valueName, const char* takes, const char* help)
{
    return {name, ValueKind::text, valueName, takes, help};
}

OptionRule OptionRule::choice(const char* name, const char* choices, const char* help)
{
    OptionRule rule{name, ValueKind::choice, choices, choiceText(choices), help};
    rule.choices = choices;
    return rule;
}

OptionRule OptionRule::custom(const char* name, const char* valueName, bool (*accepts)(const std::string&),
                              std::string takes, const char* help)
{
    OptionRule rule{name, ValueKind::custom, valueName, std::move(takes), help};
    rule.accepts = accepts;
    return rule;
}

bool OptionRule::admits(const std::string& value) const
{
    switch (kind) {
    case ValueKind::flag:
        return true;
    case ValueKind::real:
        return isWholeReal(value.c_str()) && withinRange(parseReal(value.c_str()), *this);
    case ValueKind::whole:
        // parseReal is exact for the digits and never wraps.
        return isWholeInteger(value.c_str()) && withinRange(parseReal(value.c_str()), *this);
    case ValueKind::text:
        return !value.empty();
    case ValueKind::choice:
        return isChoice(value, choices);
    case ValueKind::custom:
        return accepts(value);
    }
    return false;
}

std::string OptionRule::refusal(const std::string& value) const
{
    std::string line = name;
    if (showable(value))
        line += " " + value;
    return line + " refused: it takes " + takes + ".";
}

void writeOptionHelp(std::ostream& report, const std::vector<OptionRule>& rules)
{
    // Help in a column from 24; what the value takes follows it, on a line
    // of its own where the two would pass 100 characters.
    constexpr std::size_t column = 24, width = 100;
    report << "Options:\n";
    for (const OptionRule& rule : rules) {
        std::string line = std::string("  ") + rule.name + (rule.kind == ValueKind::flag ? "" : " ") + rule.valueName;
        line.append(line.size() < column ? column - line.size() : 1, ' ');
        line += rule.help;
        // A choice's words stand in the value's place already.
        if (rule.kind != ValueKind::flag && rule.kind != ValueKind::choice) {
            const std::string takes = "(" + rule.takes + ")";
            line += line.size() + 1 + takes.size() <= width ? " " : "\n" + std::string(column, ' ');
            line += takes;
        }
        report << line << "\n";
    }
    report << std::flush;
}
