#include "fit/fit.h"

#include "common/replacing_file.h"
#include "common/report_check.h"

#include <iostream>

int main(int argc, char** argv)
{
    removeUnfinishedOnSignal();
    int code = runFit(argc, argv, std::cout, std::cerr);
    return closeStandardOutput(checkReport(code, std::cout, std::cerr));
}
