#include "command_line.h"
#include "delay_finder.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    // The recording is opened only for a command line the flow will accept.
    std::ifstream recording;
    if (argumentsAccepted(argc, argv))
        recording.open(argv[1], std::ios::in | std::ios::binary);
    return runDelayFinder(argc, argv, recording, std::cout, std::cerr);
}
