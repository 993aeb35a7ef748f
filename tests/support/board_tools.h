#pragma once

#include <string>

#include "support/temp_board_root.h"

namespace vantor::test {

// PATH with the folder `tools` in front of the test's own PATH (or the usual folders without one).
std::string tools_first_in_path(const TempDir& tools);

// A shell tool named `name` in `dir` that prints `output` (a printf format), standing in for the
// BusyBox tools the camera's programs run (the network identity in BusyBox's format).
void write_tool(const TempDir& dir, const std::string& name, const std::string& output);

}  // namespace vantor::test
