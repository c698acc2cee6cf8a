#include "common/replacing_file.h"

#include <cerrno>
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

bool ReplacingFile::open(const std::string& name)
{
    OutputTarget where = OutputTarget::of(name);
    target = where.path;
    problem = where.problem;
    if (where.refused())
        return false;
    if (where.kind == OutputTarget::Kind::writtenThrough) {
        through = true;
        out.open(target, std::ios::out | std::ios::binary);
        if (!out)
            problem = std::strerror(errno);
        return static_cast<bool>(out);
    }
    std::string pattern = target + ".partial-XXXXXX";
    std::vector<char> temporaryName(pattern.begin(), pattern.end());
    temporaryName.push_back('\0');
    int descriptor = mkstemp(temporaryName.data());
    if (descriptor < 0) {
        problem = std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; give it the mode a new file gets.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    close(descriptor);
    temporary = temporaryName.data();
    remember(temporary);
    out.open(temporary, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out)
        problem = std::strerror(errno);
    return static_cast<bool>(out);
}

bool ReplacingFile::commit()
{
    if (out.is_open())
        out.close();
    if (out.fail())
        problem = "a write did not complete";
    if (through)
        return !out.fail();
    bool written = !out.fail() && std::rename(temporary.c_str(), target.c_str()) == 0;
    if (!out.fail() && !written)
        problem = std::strerror(errno);
    unfinished[0] = '\0';
    if (written)
        temporary.clear();
    return written;
}
