// The bare baselines: a read() loop over a file into one 128 KiB buffer,
// and a read()/write() copy of it, as a program that does nothing else
// would do them.
//   plain_io read FILE
//   plain_io copy FROM TO
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

int main(int argc, char** argv)
{
    static char buffer[1 << 17];
    bool copy = argc == 4 && std::strcmp(argv[1], "copy") == 0;
    if (!copy && !(argc == 3 && std::strcmp(argv[1], "read") == 0))
        return 2;
    int in = open(argv[2], O_RDONLY);
    int out = copy ? open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
    if (in < 0 || (copy && out < 0))
        return 1;
    for (;;) {
        ssize_t got = read(in, buffer, sizeof buffer);
        if (got <= 0)
            return got < 0;
        if (copy && write(out, buffer, static_cast<size_t>(got)) != got)
            return 1;
    }
}
