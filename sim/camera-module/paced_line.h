#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "camera_model.h"
#include "vantor/unique_fd.h"

namespace camsim {

// Time one byte takes on a 9600-baud 8N1 line: start bit, 8 data bits, stop bit.
inline constexpr std::chrono::nanoseconds kByteTime{1'000'000'000LL * 10 / 9600};

// A byte on the line: when its last bit has left, and whether it is line noise (no reply).
struct LineByte {
    uint8_t value;
    TimePoint leaves;
    bool noise;
};

// The firmware's UART receive FIFO: bytes collect until kDepth are there, or until the line has
// been idle for kIdleBytes byte times after the last one (the receive time-out); then they reach
// the firmware together, as one burst.
class UartFifo {
public:
    static constexpr size_t kDepth = 8;
    static constexpr int kIdleBytes = 4;

    // A byte has arrived; a burst that it fills up is appended to `burst`, as is a burst whose
    // time-out passed before it arrived.
    void push(const LineByte& byte, std::vector<LineByte>& burst);
    // Moves the bytes whose time-out has passed by `now` to `burst`.
    void flush_idle(TimePoint now, std::vector<LineByte>& burst);
    // When the bytes held now time out.
    std::optional<TimePoint> timeout() const;
    bool holds_reply() const;

private:
    std::vector<LineByte> m_held;
};

// The camera end of the serial line: a pseudo-terminal whose slave is linked at the path the
// firmware opens. A pty carries bytes at once whatever the baud rate, so the line paces them here:
// an incoming byte counts as received when its last bit would have arrived, and outgoing bytes
// are written when their last bit would have left: one at a time, or in strict mode in the bursts
// a UART receive FIFO delivers. With noise on, the line carries 00 bytes whenever no reply goes
// out.
class PacedLine {
public:
    PacedLine() = default;
    ~PacedLine();
    PacedLine(const PacedLine&) = delete;
    PacedLine& operator=(const PacedLine&) = delete;

    // Creates the pty, sets its slave raw 9600 8N1 and links it at `link_path` (an existing
    // symbolic link there is replaced; anything else is refused).
    bool open(const std::string& link_path, std::string& error);
    int master_fd() const { return m_master.get(); }
    const std::string& slave_name() const { return m_slave_name; }

    // Reads what the firmware wrote and stamps each byte with its arrival time on the line.
    void receive(TimePoint now, std::deque<std::pair<uint8_t, TimePoint>>& bytes);
    // Queues a packet to go out no earlier than `earliest`; returns when its last byte leaves.
    TimePoint send(const Bytes& packet, TimePoint earliest);
    // Writes every byte (or burst) whose time has come.
    void write_due(TimePoint now);
    std::optional<TimePoint> next_write() const;
    // True while reply bytes are queued or held in the FIFO (noise does not count).
    bool busy() const;

    void set_strict(bool on) { m_strict = on; }
    bool strict() const { return m_strict; }
    void set_noise(bool on, TimePoint now);
    bool noise() const { return m_noise; }
    // Why the slave's current settings (as the firmware set them) are not 9600 8N1 raw; "" if
    // they are.
    std::string settings_fault() const;

private:
    void queue_noise(TimePoint now);
    void deliver(const std::vector<LineByte>& bytes);

    vantor::UniqueFd m_master;
    vantor::UniqueFd m_slave;  // kept open so the line never hangs up between firmware opens
    std::string m_slave_name;
    std::string m_link;
    TimePoint m_rx_free{};
    TimePoint m_tx_free{};
    std::deque<LineByte> m_tx;
    UartFifo m_fifo;
    bool m_strict = false;
    bool m_noise = false;
};

}  // namespace camsim
