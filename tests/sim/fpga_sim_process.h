#pragma once

// Runs build/<preset>/bin/fpga-sim for a test and talks to it over its standard input and output.

#include <string>
#include <sys/types.h>
#include <vector>

#include "support/temp_board_root.h"
#include "vantor/unique_fd.h"

namespace vantor::test {

class FpgaSimProcess {
public:
    // Starts fpga-sim with the current environment (VANTOR_ROOT names the board root) and waits
    // up to 10 s for its ready line. started() tells whether that worked.
    FpgaSimProcess();
    // Sends "quit" and waits for the process; kills it if it does not end within 10 s.
    ~FpgaSimProcess();
    FpgaSimProcess(const FpgaSimProcess&) = delete;
    FpgaSimProcess& operator=(const FpgaSimProcess&) = delete;

    bool started() const { return m_started; }
    const std::string& ready_line() const { return m_ready; }

    // Sends one command and returns the reply lines before the final "ok" (which is dropped). On
    // "err ..." or when no answer comes within 10 s, `ok` is false and the lines read so far
    // (including the error line) are returned.
    std::vector<std::string> command(const std::string& line, bool& ok);
    // The same for commands whose failure fails the test.
    std::vector<std::string> command(const std::string& line);
    // A register's value as "dump" shows it ("0x00000001"), or "?".
    std::string reg(const std::string& name);

private:
    bool read_line(std::string& line);

    pid_t m_pid = -1;
    vantor::UniqueFd m_to;
    vantor::UniqueFd m_from;
    std::string m_buffer;
    std::string m_ready;
    bool m_started = false;
};

// The folders and sysfs files below the board root (VANTOR_ROOT) that platform-app needs besides
// what fpga-sim makes: "/dev" and the HDMI transmitter's reset line, GPIO 957.
void make_platform_board(const TempBoardRoot& root);

}  // namespace vantor::test
