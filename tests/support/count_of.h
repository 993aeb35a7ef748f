#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace vantor::test {

// How many times `what` occurs in `text` (occurrences that do not overlap).
inline size_t count_of(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); !what.empty() && at != std::string::npos;
         at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

// How many of `lines` are exactly `line`.
inline size_t count_of(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

}  // namespace vantor::test
