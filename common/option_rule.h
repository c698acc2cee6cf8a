#pragma once

#include <iosfwd>
#include <string>
#include <vector>

/// What an option's value must be.
enum class ValueKind {
    flag,    ///< no value follows
    real,    ///< a decimal number within [low, high], each end open or closed
    whole,   ///< a whole number within [low, high]
    text,    ///< any non-empty text
    choice,  ///< one of the words in `choices`
    custom   ///< text that `accepts` admits
};

/// One option of a program's command line: its name, the kind and range of
/// its value, and the words that describe it. Every program's options are a
/// table of these; the splitting, the checks, the refusals and the help
/// lines are written once, from the table.
struct OptionRule {
    const char* name;
    ValueKind kind = ValueKind::flag;
    const char* valueName = "";   ///< the value in the help line: --tail SECONDS
    std::string takes;            ///< completes "it takes ...": what a value must be
    const char* help = "";        ///< what the option does, for --help
    double low = 0, high = 0;     ///< real and whole: the range
    bool lowIncluded = true, highIncluded = true;
    const char* choices = "";     ///< choice: the words, separated by '|'
    bool (*accepts)(const std::string& value) = nullptr;   ///< custom: the value's own test

    /// A flag: no value.
    static OptionRule flag(const char* name, const char* help);
    /// A number of `unit`s ("seconds"), `takes` worded from the range:
    /// "seconds from 0 to 3600", "milliseconds above 0, at most 371.5".
    static OptionRule real(const char* name, const char* valueName, const char* unit, double low, double high,
                           const char* help, bool lowIncluded = true, bool highIncluded = true);
    /// A whole number: "a whole number of frames from 0 to 441000".
    static OptionRule whole(const char* name, const char* valueName, const char* unit, double low, double high,
                            const char* help);
    /// Non-empty text, such as a file name; `takes` as "a file name".
    static OptionRule text(const char* name, const char* valueName, const char* takes, const char* help);
    /// One of the words in `choices` ("1|2|none"): "1, 2 or none".
    static OptionRule choice(const char* name, const char* choices, const char* help);
    /// Text that `accepts` admits; `takes` says what that is.
    static OptionRule custom(const char* name, const char* valueName, bool (*accepts)(const std::string&),
                             std::string takes, const char* help);

    /// Whether `value` is one this option takes.
    bool admits(const std::string& value) const;

    /// The one line that refuses `value`: "--tail -1 refused: it takes
    /// seconds from 0 to 3600." The value is left out when it is empty,
    /// longer than 64 characters or holds characters that would break the
    /// line.
    std::string refusal(const std::string& value) const;
};

/// Writes "Options:" and one line per rule (name, value name, what it does
/// and what it takes) to `report`.
void writeOptionHelp(std::ostream& report, const std::vector<OptionRule>& rules);
