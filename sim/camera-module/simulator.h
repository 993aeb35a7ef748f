#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "camera_model.h"
#include "paced_line.h"

namespace camsim {

// The camera module on its line: assembles incoming packets, checks that the line is set as the
// module needs it (9600 8N1 raw; otherwise packets are ignored), lets the model answer them, keeps
// the replies in order on the paced line, records a history of received packets and, when asked,
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
    void set_strict(bool on) { m_line.set_strict(on); }

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
    void packet_too_long(TimePoint at);
    void record(const std::string& entry);
    // True when the line is set as the module needs it; otherwise records why.
    bool line_usable(const Bytes& packet, const char* what);
    void queue(std::vector<Reply> replies);
    std::string state_text(TimePoint now) const;
    void log(const char* direction, const Bytes& packet, TimePoint at) const;

    TimePoint m_start;
    CameraModel m_model;
    PacedLine m_line;
    std::deque<std::pair<uint8_t, TimePoint>> m_incoming;
    Bytes m_packet;
    std::multimap<TimePoint, Bytes> m_replies;
    std::deque<std::string> m_history;  // the most recent kHistoryLimit packets
    bool m_transcript = false;
    std::string m_line_fault;  // as found when the last packet arrived; "" when fine
    bool m_unplugged = false;  // the module is off the line: what arrives is lost, nothing goes out
};

std::string hex(const Bytes& bytes);
// Sets the delay named as its control command ("format-delay", "completion-delay",
// "processing-delay") to `ms` milliseconds; false if the name or the number is not one.
bool set_delay(CameraModel& model, const std::string& name, const std::string& ms);
bool is_delay_name(const std::string& name);

}  // namespace camsim
