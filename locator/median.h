#pragma once

#include <vector>

/// The middle value of `values` (the mean of the two middle ones for an
/// even count); 0 for none.
double median(std::vector<double> values);
