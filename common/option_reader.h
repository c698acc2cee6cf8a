#pragma once

#include "common/option_rule.h"

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

/// A command line split by its program's rules: the positional words in
/// order (the program's name first), and the options given, each with its
/// value (empty for a flag), in order. Every value has passed its rule.
struct SplitLine {
    std::vector<const char*> positional;
    std::vector<std::pair<std::string, std::string>> options;
};

/// A program's options: its name, its synopsis (what follows the usage label)
/// and the table of its options. Usage, help, refusals and the splitting of
/// a command line are written here once for every program with options.
struct OptionTable {
    const char* program;
    const char* synopsis;
    std::vector<OptionRule> rules;

    /// Splits argv into `line`. Options may stand anywhere after the
    /// program's name; a word that begins with '-' and is not a number is an
    /// option, so a file of such a name is reached as ./-name. Returns an
    /// empty string, or the line that refuses the command line: "X refused:
    /// PROGRAM has no such option." or the option's own refusal of its value
    /// (or of a missing one).
    std::string split(int argc, const char* const* argv, SplitLine& line) const;

    /// A lone -h or --help writes the usage message and one line per option
    /// to `report` and gives exitOk. Returns true, with `code` set, when it
    /// did.
    bool helpHandled(int argc, const char* const* argv, std::ostream& report, int& code) const;

    /// Writes `line` and the usage message to `errors`; returns exitUsage.
    int refuse(std::ostream& errors, const std::string& line) const;

    /// Writes the usage message alone to `errors`; returns exitUsage. For a
    /// command line with too few or too many positional words.
    int refuseCount(std::ostream& errors) const;

    /// True, after writing the refusal and the usage message, when `output`
    /// names the same existing file as `input`, which `inputNoun` names ("the
    /// recording"): writing it would destroy the input before it is read.
    bool outputIsInput(const std::string& input, const char* inputNoun, const std::string& output,
                       std::ostream& errors) const;
};

/// "A,B": two non-empty parts around one comma. False otherwise.
bool splitPair(const std::string& text, std::string& first, std::string& second);
