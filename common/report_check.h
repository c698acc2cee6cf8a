#pragma once

#include <iosfwd>

/// Ends a flow that returns `code`: when the run finished but some of the
/// report failed to reach `report` (a full disk, /dev/full, a closed pipe
/// where SIGPIPE is ignored), writes "Failed to write the report." and the
/// end of a line to `errors` and returns exitReport; else returns `code`.
/// Failures with codes of their own keep them.
int checkReport(int code, std::ostream& report, std::ostream& errors);

/// The same test at closing, for a main that wrote its report to standard
/// output: flushes and closes it.
int closeStandardOutput(int code);
