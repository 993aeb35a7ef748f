#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vantor::bench {

// The value at fraction `p` (0..1) of the sorted values, nearest rank; `values` must not be empty.
inline double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto at =
        static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
    return values[at];
}

}  // namespace vantor::bench
