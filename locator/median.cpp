#include "locator/median.h"

#include <algorithm>
#include <cstddef>

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    double upper = values[middle];
    if (values.size() % 2 == 1)
        return upper;
    double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
}
