#include "fit.h"

#include "replacing_file.h"
#include "report_check.h"

#include <iostream>

int main(int argc, char** argv)
{
    removeUnfinishedOnSignal();
    int code = runFit(argc, argv, std::cout, std::cerr);
    return closeStandardOutput(checkReport(code, std::cout, std::cerr));
}
