#pragma once

#include <ostream>
#include <string>

/// Where a file named on the command line as an output is written: the one
/// rule of every program that writes files. A regular file or a new name is
/// replaced whole (written beside itself and renamed into place); a
/// symbolic link is followed and its target replaced the same way, the link
/// staying; a character device or a FIFO is written straight through,
/// never replaced; a directory, a block device, a socket or an empty name is
/// refused.
struct OutputTarget {
    enum class Kind { replaced, writtenThrough, refused };
    Kind kind = Kind::refused;
    std::string path;     ///< the file replaced or written through: the name, its links followed
    std::string problem;  ///< why it is refused, a phrase such as "it is a directory"

    /// The target of the output named `name`. Reads the file system only.
    static OutputTarget of(const std::string& name);

    bool refused() const { return kind == Kind::refused; }
};

/// Where the output named `name` is refused, writes `lead`, the name and
/// why ("Failed to open output file: x: it is a directory") and returns
/// true; a program checks this before its work, so that a refusal costs
/// nothing.
bool outputRefused(const std::string& name, const std::string& lead, std::ostream& errors);
