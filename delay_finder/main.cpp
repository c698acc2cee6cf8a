#include "common/command_line.h"
#include "delay_finder/delay_finder.h"

#include "common/report_check.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    // The recording is opened only for a command line the flow will accept.
    std::ifstream recording;
    if (argumentsAccepted(argc, argv))
        recording.open(argv[1], std::ios::in | std::ios::binary);
    int code = runDelayFinder(argc, argv, recording, std::cout, std::cerr);
    return closeStandardOutput(checkReport(code, std::cout, std::cerr));
}
