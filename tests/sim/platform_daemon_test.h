#pragma once

// A test fixture with the real platform-app process on the virtual board: a board root with what
// the daemon needs, fpga-sim's register windows, command channel and I2C chip models, and the
// daemon's standard output in a log file below the root.

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>

#include <gtest/gtest.h>

#include "fpga_sim_process.h"
#include "support/temp_board_root.h"

namespace vantor::test {

class PlatformDaemonTest : public ::testing::Test {
protected:
    // Makes the board and starts fpga-sim; the daemon is started by each test.
    void SetUp() override;
    // Stops the daemon (if started) and fails the test on a sanitizer report on its standard
    // error, then stops fpga-sim.
    void TearDown() override;

    // Starts platform-app without waiting for anything.
    void launch_daemon();
    // Starts platform-app and waits until it has brought the chips up.
    void start_daemon();

    std::string log() const;
    bool wait_for_log(const std::string& line, size_t times,
                      std::chrono::milliseconds deadline = std::chrono::seconds(30));
    bool daemon_running() const;
    std::string reg(const std::string& name) { return m_sim->reg(name); }

    TempBoardRoot m_root;
    std::unique_ptr<FpgaSimProcess> m_sim;
    pid_t m_app = -1;
};

}  // namespace vantor::test
