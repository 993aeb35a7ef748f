#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "support/sim_process.h"

namespace vantor::test {

// Runs the camera-module simulator (bin/camera-sim) for a test: its line linked at `link_path`,
// its control socket at `control_path`. Ended (SIGTERM) and reaped when the object goes.
class CameraSimProcess {
public:
    CameraSimProcess(const std::string& bin_dir, const std::string& link_path,
                     const std::string& control_path, const std::vector<std::string>& extra = {});

    // True once the simulator answers on its control socket.
    bool ready() const { return m_sim.ready(); }
    // Sends one control command; returns the whole answer, ending "ok\n" or "error: ...\n".
    std::string command(const std::string& line);
    // True when the command's answer is "ok".
    bool ok(const std::string& line);
    // The packets the simulator received, oldest first, as hex text ("81 09 04 24 72 FF").
    std::vector<std::string> history();
    std::map<std::string, std::string> state();
    // Waits until nothing is left to go out on the line (no reply pending, no byte queued).
    bool wait_line_idle(std::chrono::milliseconds deadline);

private:
    static std::vector<std::string> argv(const std::string& bin_dir, const std::string& link_path,
                                         const std::string& control_path,
                                         const std::vector<std::string>& extra);

    SimProcess m_sim;
};

}  // namespace vantor::test
