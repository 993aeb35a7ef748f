// scripts/run --target zynq --demo: the camera's own 32-bit ARM programs, under qemu-arm on the
// virtual board, come through every step of the demo with their pictures.

#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "board_demo_check.h"
#include "board_script.h"

namespace {

using namespace std::chrono_literals;

// Why the target cannot run here; empty when it can.
std::string target_missing()
{
    if (::geteuid() != 0) {
        return "the demo runs the camera in network namespaces, which need root";
    }
    for (const char* tool : {"arm-linux-gnueabihf-g++", "qemu-arm"}) {
        const auto found =
            vantor::test::run_command({"sh", "-c", std::string("command -v ") + tool}, 10s);
        if (!found.ended || found.status != 0) {
            return std::string(tool) + " is missing (scripts/setup zynq installs it)";
        }
    }
    return {};
}

TEST(BoardTarget, TheArmProgramsComeThroughEveryDemoStep)
{
    const std::string missing = target_missing();
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    // The deadline covers building the target's two programs when the zynq build lacks them.
    vantor::test::expect_demo_passes({"--bin", VANTOR_BIN_DIR, "--target", "zynq"}, 900s);
}

}  // namespace
