#include "prep_support.h"

#include "prep.h"

#include <sstream>

RunResult runPrepWith(const std::vector<std::string>& args)
{
    std::vector<const char*> argv = argvOf("ravprep", args);
    std::ostringstream report, errors;
    RunResult result;
    result.code = runPrep(static_cast<int>(argv.size()), argv.data(), report, errors);
    result.report = report.str();
    result.errors = errors.str();
    return result;
}
