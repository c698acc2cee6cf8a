#pragma once

#include "common/output_target.h"

#include <fstream>
#include <string>

/// An output file written by the rule of OutputTarget: under a temporary
/// name beside `target` and renamed onto it only when complete, so that a
/// failed or interrupted run leaves any earlier file whole and never one
/// whose header lies (the temporary file is removed unless committed); or,
/// for a character device or a FIFO, straight through.
struct ReplacingFile {
    std::string target;     ///< the file replaced or written through, links followed
    std::string temporary;  ///< empty when written through
    std::string problem;    ///< why `open` failed: a phrase such as "it is a directory"
    bool through = false;
    std::ofstream out;

    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();

    /// Creates the temporary file for the output named `name`, or opens a
    /// device or FIFO. False, with `problem` set, when the name is refused
    /// or the file cannot be created.
    bool open(const std::string& name);

    /// Closes the stream, if still open, and renames the file onto `target`.
    /// False, with `problem` set, when a write failed or the rename did; the
    /// temporary file is then removed with this record.
    bool commit();
};

/// Makes an interrupt, a termination or a hang-up remove the temporary
/// file of the ReplacingFile being written, if any, before the program
/// ends as the signal would end it. For a program's `main`.
void removeUnfinishedOnSignal();
