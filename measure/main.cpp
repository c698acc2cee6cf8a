#include "measure/measure.h"

#include "common/report_check.h"

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
    // Ctrl-C, a termination signal or a closed terminal end the run with
    // the file's header describing what was written and the server out of
    // freewheel.
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGHUP, requestStop);
    int code = runMeasure(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0, stopRequested);
    return closeStandardOutput(checkReport(code, std::cout, std::cerr));
}
