#pragma once

#include <fstream>
#include <string>

/// An output file written under a temporary name beside `target` and
/// renamed onto it only when complete, so that a failed or interrupted run
/// leaves any earlier file whole and never one whose header lies. The
/// temporary file is removed unless committed.
struct ReplacingFile {
    std::string target;
    std::string temporary;
    std::ofstream out;

    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();

    /// Creates the temporary file. False when it cannot be created.
    bool open(const std::string& path);

    /// Closes the stream and renames the file onto `target`. False, with the
    /// temporary file removed, when a write failed or the rename did.
    bool commit();
};

/// Makes an interrupt, a termination or a hang-up remove the temporary
/// file of the ReplacingFile being written, if any, before the program
/// ends as the signal would end it. For a program's `main`.
void removeUnfinishedOnSignal();
