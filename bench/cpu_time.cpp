// Runs a command once and prints the CPU time it used (user + system, in
// microseconds), its peak resident memory in KiB and the user and system
// parts, from the kernel's own
// accounting of the child: no shell or timing helper is counted. The
// command's standard output goes to /dev/null.
//   cpu_time COMMAND [ARGS...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) < 0)
        return 2;
    long micros = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec
        + usage.ru_stime.tv_usec;
    long user = usage.ru_utime.tv_sec * 1000000L + usage.ru_utime.tv_usec;
    std::fprintf(stderr, "%ld %ld %ld %ld\n", micros, usage.ru_maxrss, user, micros - user);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
