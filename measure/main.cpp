#include "measure.h"

#include "report_check.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

} // namespace

int main(int argc, char** argv)
{
    // Ctrl-C and a termination signal end the run with the file's header
    // describing what was written.
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    int code = runMeasure(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0, stopRequested);
    return closeStandardOutput(checkReport(code, std::cout, std::cerr));
}
