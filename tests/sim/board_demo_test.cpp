// scripts/run --demo as a newcomer runs it: every step through the camera's ways in comes back as
// expected, the pictures are real PNG files of the sizes the streams carry, and nothing is left.

#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "board_demo_check.h"

namespace {

using namespace std::chrono_literals;

TEST(BoardDemo, EveryStepComesBackAsExpectedWithItsPictures)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the demo runs the camera in network namespaces, which need root";
    }
    vantor::test::expect_demo_passes({"--bin", VANTOR_BIN_DIR}, 240s);
}

}  // namespace
