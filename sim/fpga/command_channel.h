#pragma once

// The FPGA's command byte channel: bytes queued by the control commands are handed to the daemon
// one at a time through OSD_REG_CMD_RX_VALID (bit 0 valid, bits 8 to 1 the byte), each with an
// interrupt on the UIO stand-in (a raw pseudo-terminal whose slave "/dev/uio1" links to). The
// daemon acknowledges by writing 1 to OSD_REG_CMD_RX_READY; the model then clears READY and VALID
// itself (so every acknowledgement is a fresh 0 -> 1) and presents the next byte.
//
// UIO: every 4-byte write of the daemon re-arms the interrupt (one credit). A byte is presented
// only with a credit, together with its interrupt (see step()).

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fpga_model.h"
#include "vantor/unique_fd.h"

class CommandChannel {
public:
    // Creates the pseudo-terminal (raw, VMIN 4) and the symlink `uio_link` to its slave.
    bool open(const std::string& uio_link, std::string& error);
    ~CommandChannel();
    CommandChannel() = default;
    CommandChannel(const CommandChannel&) = delete;
    CommandChannel& operator=(const CommandChannel&) = delete;

    int master_fd() const { return m_master.get(); }
    // Reads the daemon's re-arm words from the pseudo-terminal.
    void on_master_readable();

    void queue(const std::vector<uint8_t>& bytes);
    // Advances the hand-shake. True while a presented byte waits for its acknowledgement (the
    // caller then polls without waiting, so the acknowledgement is answered at once).
    bool step(FpgaModel& model);

    // "queued N presented 0|1 acknowledged N unexpected N armed N interrupts N".
    std::string status() const;

private:
    void raise_interrupt();

    vantor::UniqueFd m_master;
    vantor::UniqueFd m_slave;  // held open so the daemon's closing it never hangs up the master
    std::string m_link;
    std::string m_rearm;  // partial re-arm word
    std::deque<uint8_t> m_queue;
    bool m_presented = false;
    uint32_t m_armed = 0;
    uint32_t m_interrupts = 0;
    uint64_t m_acknowledged = 0;
    uint64_t m_unexpected = 0;
};
