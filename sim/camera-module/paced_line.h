#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "camera_model.h"
#include "vantor/unique_fd.h"

namespace camsim {

// Time one byte takes on a 9600-baud 8N1 line: start bit, 8 data bits, stop bit.
inline constexpr std::chrono::nanoseconds kByteTime{1'000'000'000LL * 10 / 9600};

// The camera end of the serial line: a pseudo-terminal whose slave is linked at the path the
// firmware opens. A pty carries bytes at once whatever the baud rate, so the line paces them here:
// an incoming byte counts as received when its last bit would have arrived, and outgoing bytes
// are written one at a time, each when its last bit would have left.
class PacedLine {
public:
    PacedLine() = default;
    ~PacedLine();
    PacedLine(const PacedLine&) = delete;
    PacedLine& operator=(const PacedLine&) = delete;

    // Creates the pty, sets its slave raw and links it at `link_path` (an existing symbolic link
    // there is replaced; anything else is refused).
    bool open(const std::string& link_path, std::string& error);
    int master_fd() const { return m_master.get(); }
    const std::string& slave_name() const { return m_slave_name; }

    // Reads what the firmware wrote and stamps each byte with its arrival time on the line.
    void receive(TimePoint now, std::deque<std::pair<uint8_t, TimePoint>>& bytes);
    // Queues a packet to go out no earlier than `earliest`; returns when its last byte leaves.
    TimePoint send(const Bytes& packet, TimePoint earliest);
    // Writes every byte whose time has come.
    void write_due(TimePoint now);
    std::optional<TimePoint> next_write() const;

private:
    vantor::UniqueFd m_master;
    vantor::UniqueFd m_slave;  // kept open so the line never hangs up between firmware opens
    std::string m_slave_name;
    std::string m_link;
    TimePoint m_rx_free{};
    TimePoint m_tx_free{};
    std::deque<std::pair<uint8_t, TimePoint>> m_tx;
};

}  // namespace camsim
