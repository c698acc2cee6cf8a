#include "prep_support.h"

#include "prep.h"

RunResult runPrepWith(const std::vector<std::string>& args)
{
    return runFlow(runPrep, "ravprep", args);
}
