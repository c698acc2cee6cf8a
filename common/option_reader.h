#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

/// One option of a program's command line: its name, and whether a value
/// follows it.
struct OptionRule {
    const char* name;
    bool takesValue = true;
};

/// A command line split by its program's rules: the positional words in
/// order (the program's name first), and the options given, each with its
/// value (empty for a flag), in order.
struct SplitLine {
    std::vector<const char*> positional;
    std::vector<std::pair<std::string, std::string>> options;

    /// Splits argv. Options may stand anywhere after the program's name; a
    /// word that begins with '-' and is not a number is an option, so a file
    /// of such a name is reached as ./-name. Returns an empty string, or the
    /// line that refuses the command line: "X refused: PROGRAM has no such
    /// option." or "X refused: it needs a value.".
    std::string split(int argc, const char* const* argv, const std::vector<OptionRule>& rules, const char* program);
};

/// Writes `line` and the usage message of `synopsis` to `errors`; returns
/// exitUsage.
int refuseWithUsage(std::ostream& errors, const std::string& line, const char* synopsis);

/// True, after writing the refusal and the usage message, when `output`
/// names the same existing file as the recording `input`: writing it would
/// destroy the recording before it is read.
bool outputIsInput(const std::string& input, const std::string& output, const char* synopsis, std::ostream& errors);

/// "A,B": two non-empty parts around one comma. False otherwise.
bool splitPair(const std::string& text, std::string& first, std::string& second);
