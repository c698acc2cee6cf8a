#include "generator/generator.h"

#include "common/report_check.h"

#include <iostream>

int main(int argc, char** argv)
{
    int code = runGenerator(argc, argv, std::cout, std::cerr);
    return closeStandardOutput(checkReport(code, std::cout, std::cerr));
}
