#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "vantor/unique_fd.h"

namespace vantor::test {

// One of the board's simulators run for a test and driven over its control socket (a Unix stream
// socket the simulator creates). Standard input (and output, unless it is kept) is /dev/null. The
// process is ended (SIGTERM) and reaped when the object goes.
class SimProcess {
public:
    struct Options {
        std::string control_path;
        // Exists once the simulator serves: its control socket, or a socket it makes after it.
        std::string ready_path;
        bool keep_output = false;  // standard output stays the test's
    };
    SimProcess(const std::vector<std::string>& argv, const Options& options);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // True once the control socket is connected (within 20 s of the start).
    bool ready() const { return m_control.valid(); }
    // Sends one command line and reads the reply until `complete` accepts it; what was read.
    // `failed` is set (and an empty reply returned) when the simulator cannot be reached, ends or
    // does not complete its reply within 20 s.
    std::string exchange(const std::string& line, bool (*complete)(const std::string& reply),
                         bool& failed);
    // A reply of one line: it without its line end, or `error` when the exchange failed.
    std::string one_line(const std::string& line, const std::string& error);

private:
    pid_t m_pid = -1;
    vantor::UniqueFd m_control;
};

}  // namespace vantor::test
