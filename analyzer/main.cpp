#include "analyzer.h"
#include "command_line.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    // The recording is opened only for a command line the flow will accept,
    // so a usage error or a refused value touches no file.
    std::ifstream recording;
    if (argumentsAccepted(argc, argv))
        recording.open(argv[1], std::ios::in | std::ios::binary);
    return runAnalyzer(argc, argv, recording, std::cout, std::cerr);
}
