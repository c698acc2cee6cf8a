#pragma once

#include "test_support.h"

#include <string>
#include <vector>

/// Runs ravprep's flow in-process with `args` after the program name.
RunResult runPrepWith(const std::vector<std::string>& args);
