#include "log.h"

#include <cstdio>

namespace vantor::ndi {

void log_line(const std::string& text)
{
    const std::string line = "ndi: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace vantor::ndi
