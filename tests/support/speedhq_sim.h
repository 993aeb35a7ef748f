#pragma once

#include <string>
#include <vector>

#include "support/sim_process.h"

namespace vantor::test {

// Runs the encoder-device simulator (bin/speedhq-sim) for a test: the device socket at
// `socket_path`, its control socket beside it ("<socket_path>.control"), standard input closed.
// Ended (SIGTERM) and reaped when the object goes.
class SpeedHqSimProcess {
public:
    SpeedHqSimProcess(const std::string& bin_dir, const std::string& socket_path,
                      const std::vector<std::string>& extra = {});

    // True once the simulator answers on its control socket (its device socket then exists too).
    bool ready() const { return m_sim.ready(); }
    // Sends one command; returns its reply line without the line end ("ok ..." or "error ...").
    std::string command(const std::string& line);
    // The requests the simulator received, oldest first ("12=7", "1", "read:6").
    std::vector<std::string> requests();

private:
    static std::vector<std::string> argv(const std::string& bin_dir, const std::string& socket_path,
                                         const std::vector<std::string>& extra);

    SimProcess m_sim;
};

}  // namespace vantor::test
