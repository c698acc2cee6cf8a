#include "replacing_file.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The temporary file being written, for the signal handler: a fixed buffer,
// since a handler may only read memory and call unlink().
char unfinished[4096];

void remember(const std::string& name)
{
    // The first byte goes in last: a signal meanwhile finds no name. A name
    // too long to hold is not held (a cut one would name another file).
    unfinished[0] = '\0';
    if (name.empty() || name.size() >= sizeof unfinished)
        return;
    std::memcpy(unfinished + 1, name.data() + 1, name.size() - 1);
    unfinished[name.size()] = '\0';
    unfinished[0] = name[0];
}

extern "C" void removeAndEnd(int signal)
{
    if (unfinished[0] != '\0')
        unlink(unfinished);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void removeUnfinishedOnSignal()
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, removeAndEnd);
}

ReplacingFile::~ReplacingFile()
{
    unfinished[0] = '\0';
    if (!temporary.empty()) {
        out.close();
        std::remove(temporary.c_str());
    }
}

bool ReplacingFile::open(const std::string& path)
{
    target = path;
    std::string pattern = path + ".partial-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int descriptor = mkstemp(name.data());
    if (descriptor < 0)
        return false;
    // mkstemp makes the file private; give it the mode a new file gets.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    close(descriptor);
    temporary = name.data();
    remember(temporary);
    out.open(temporary, std::ios::out | std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out);
}

bool ReplacingFile::commit()
{
    out.close();
    bool written = !out.fail() && std::rename(temporary.c_str(), target.c_str()) == 0;
    unfinished[0] = '\0';
    if (written)
        temporary.clear();
    return written;
}
