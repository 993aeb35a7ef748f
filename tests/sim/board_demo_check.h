#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vantor::test {

// Runs scripts/run --demo with `args` (a board root and a demo folder of its own are added) and
// checks that it ends with status 0 within `deadline`, that every step through the camera's ways
// in is there and passed, that the pictures are real PNG files of the sizes the streams carry and
// that nothing is left running. Reports failures as GoogleTest failures.
void expect_demo_passes(const std::vector<std::string>& args, std::chrono::seconds deadline);

}  // namespace vantor::test
