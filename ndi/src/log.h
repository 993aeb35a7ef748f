#pragma once

#include <string>

namespace vantor::ndi {

// Prints one line, "ndi: <text>", on standard output and flushes it.
void log_line(const std::string& text);

}  // namespace vantor::ndi
