#include "common/output_target.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// As the kernel does: a chain of more links than this is a loop.
constexpr int mostLinks = 40;

OutputTarget refusal(const std::string& path, const std::string& problem)
{
    OutputTarget target;
    target.path = path;
    target.problem = problem;
    return target;
}

std::string directoryOf(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The name a symbolic link at `path` points to, relative to the link's own
// folder where it is relative. False, with `problem` set, where it cannot be read.
bool linkTarget(const std::string& path, std::string& next, std::string& problem)
{
    std::vector<char> buffer(4096);
    ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        problem = length < 0 ? std::strerror(errno) : "its link is too long";
        return false;
    }
    std::string text(buffer.data(), static_cast<std::size_t>(length));
    next = text[0] == '/' ? text : directoryOf(path) + text;
    return true;
}

} // namespace

OutputTarget OutputTarget::of(const std::string& name)
{
    if (name.empty())
        return refusal(name, "an empty name names no file");
    std::string path = name;
    for (int links = 0; links <= mostLinks; ++links) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0) {
            if (errno != ENOENT)
                return refusal(path, std::strerror(errno));
            OutputTarget target;
            target.kind = Kind::replaced;
            target.path = path;
            return target;
        }
        if (S_ISLNK(status.st_mode)) {
            std::string next, problem;
            if (!linkTarget(path, next, problem))
                return refusal(path, problem);
            path = next;
            continue;
        }
        if (S_ISDIR(status.st_mode))
            return refusal(path, "it is a directory");
        if (S_ISBLK(status.st_mode))
            return refusal(path, "it is a block device, which a measurement never overwrites");
        if (S_ISSOCK(status.st_mode))
            return refusal(path, "it is a socket");
        OutputTarget target;
        target.kind = S_ISREG(status.st_mode) ? Kind::replaced : Kind::writtenThrough;
        target.path = path;
        return target;
    }
    return refusal(name, "its symbolic links form a loop");
}

bool outputRefused(const std::string& name, const std::string& lead, std::ostream& errors)
{
    OutputTarget target = OutputTarget::of(name);
    if (!target.refused())
        return false;
    errors << lead << name << ": " << target.problem << std::endl;
    return true;
}
