#include "replacing_file.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

ReplacingFile::~ReplacingFile()
{
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
    out.open(temporary, std::ios::out | std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out);
}

bool ReplacingFile::commit()
{
    out.close();
    bool written = !out.fail() && std::rename(temporary.c_str(), target.c_str()) == 0;
    if (written)
        temporary.clear();
    return written;
}
