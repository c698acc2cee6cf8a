#include "common/report_check.h"

#include "common/exit_codes.h"

#include <cstdio>
#include <iostream>

namespace {

int reportLost(std::ostream& errors)
{
    errors << "Failed to write the report." << std::endl;
    return exitReport;
}

} // namespace

int checkReport(int code, std::ostream& report, std::ostream& errors)
{
    report.flush();
    if (code == exitOk && !report)
        return reportLost(errors);
    return code;
}

int closeStandardOutput(int code)
{
    std::cout.flush();
    bool lost = !std::cout;
    lost = std::fclose(stdout) != 0 || lost;
    if (code == exitOk && lost)
        return reportLost(std::cerr);
    return code;
}
