#pragma once

// The FPGA's command-channel interrupt through a UIO device ("/dev/uio1"): a 4-byte write of 1
// re-arms it, a 4-byte read blocks until it fires.
//
// A device that cannot be opened is said once ("can't open!") and looked for again every second.
// A write or read that fails or finds the device hung up closes it and opens the path again, so a
// restarted driver (or FPGA model) behind the same path is heard again; the first such failure
// after a working interrupt is said once, with a 100 ms pause before each new try.

#include <chrono>
#include <string>

#include "vantor/unique_fd.h"

class UioInterrupt {
public:
    static constexpr std::chrono::milliseconds kOpenRetry{1000};
    static constexpr std::chrono::milliseconds kErrorPause{100};

    // `path` already resolved below the board root.
    explicit UioInterrupt(std::string path) : m_path(std::move(path)) {}

    // Opens the device if needed (waiting until it can be), re-arms the interrupt and waits for
    // it. True when the interrupt came; false for a pass to drop.
    bool Wait();

private:
    void Open();

    std::string m_path;
    vantor::UniqueFd m_fd;
    bool m_failing = false;  // a failure has been said since the last interrupt
};
