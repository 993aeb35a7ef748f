#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "camera_model.h"
#include "paced_line.h"

namespace camsim {

// The camera module on its line: assembles incoming packets, lets the model answer them, keeps the
// replies in order on the paced line, records a history of received packets and, when asked,
// prints a time-stamped transcript of every packet in both directions. Also carries out the
// control commands (see help_text()).
class Simulator {
public:
    explicit Simulator(TimePoint start) : m_start(start) {}

    bool open(const std::string& link_path, std::string& error)
    {
        return m_line.open(link_path, error);
    }
    int master_fd() const { return m_line.master_fd(); }
    const std::string& slave_name() const { return m_line.slave_name(); }
    CameraModel& model() { return m_model; }
    void set_transcript(bool on) { m_transcript = on; }

    // The firmware wrote bytes.
    void on_readable(TimePoint now);
    // Handles everything due by `now`.
    void tick(TimePoint now);
    // When tick() has something to do next.
    std::optional<TimePoint> next_deadline() const;

    // Carries out one control command line; the answer ends with "ok" or "error: ...".
    std::string control(const std::string& line, TimePoint now, bool& quit);
    static const char* help_text();

private:
    void packet_complete(const Bytes& packet, TimePoint at);
    void log(const char* direction, const Bytes& packet, TimePoint at) const;

    TimePoint m_start;
    CameraModel m_model;
    PacedLine m_line;
    std::deque<std::pair<uint8_t, TimePoint>> m_incoming;
    Bytes m_packet;
    std::multimap<TimePoint, Bytes> m_replies;
    std::deque<std::string> m_history;  // the most recent kHistoryLimit packets
    bool m_transcript = false;
};

std::string hex(const Bytes& bytes);

}  // namespace camsim
