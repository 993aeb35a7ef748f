#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "vantor/unique_fd.h"

namespace vantor::test {

// Runs the encoder-device simulator (bin/speedhq-sim) for a test: the device socket at
// `socket_path`, its control socket beside it ("<socket_path>.control"), standard input closed.
// Ended (SIGTERM) and reaped when the object goes.
class SpeedHqSimProcess {
public:
    SpeedHqSimProcess(const std::string& bin_dir, const std::string& socket_path,
                      const std::vector<std::string>& extra = {});
    ~SpeedHqSimProcess();
    SpeedHqSimProcess(const SpeedHqSimProcess&) = delete;
    SpeedHqSimProcess& operator=(const SpeedHqSimProcess&) = delete;

    // True once the simulator answers on its control socket (its device socket then exists too).
    bool ready() const { return m_control.valid(); }
    // Sends one command; returns its reply line without the line end ("ok ..." or "error ...").
    std::string command(const std::string& line);
    // The requests the simulator received, oldest first ("12=7", "1", "read:6").
    std::vector<std::string> requests();

private:
    pid_t m_pid = -1;
    vantor::UniqueFd m_control;
};

}  // namespace vantor::test
