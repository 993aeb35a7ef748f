#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

// One packet the camera sends, and when it becomes ready to go on the line.
struct Reply {
    Bytes bytes;
    TimePoint due;
};

// A setting the camera keeps in a register: written by 8x 01 <prefix> <pad zeros> <value> FF,
// read by 8x 09 <prefix> FF, answered 90 50 <pad zeros> <value> FF. The value is carried as one
// nibble per byte (0p 0q ...) or, in byte mode, one whole byte per byte.
struct Setting {
    std::string name;
    Bytes prefix;
    int pad = 0;
    bool byte_mode = false;
    int count = 1;
    uint32_t value = 0;
    uint32_t initial = 0;
};

// What the camera does wrong on purpose (the fault-injection commands).
enum class FaultKind { none, silent, error, notexec, nocomp, garbage, too_long };

// One moving axis (pan, tilt, zoom, focus): moves at a speed towards a target or until stopped or
// at its limit; the position at any time is computed from the last change.
class Axis {
public:
    Axis(double low, double high) : m_low(low), m_high(high) {}
    double at(TimePoint t) const;
    void drive(TimePoint t, double velocity);
    // Starts a move to `target` at `speed` units per second; returns the arrival time.
    TimePoint move_to(TimePoint t, double target, double speed);
    void stop(TimePoint t) { drive(t, 0.0); }
    void set(TimePoint t, double position);
    bool moving(TimePoint t) const;

private:
    void rebase(TimePoint t);
    double m_low;
    double m_high;
    double m_pos = 0.0;
    double m_velocity = 0.0;
    TimePoint m_since{};
    std::optional<double> m_target;
};

// The camera module at VISCA address 1: answers commands with acknowledgement and completion,
// inquiries with replies, unknown packets with a syntax error, and keeps a coherent state.
class CameraModel {
public:
    CameraModel();

    // One complete packet (ending in FF) that arrived at `now`: the replies to send.
    std::vector<Reply> handle_packet(const Bytes& packet, TimePoint now);
    // Replies and state changes that fall due by `now` (completions of moves, format switches).
    std::vector<Reply> advance(TimePoint now);
    // The earliest time advance() has something to do.
    std::optional<TimePoint> next_event() const;

    // Human-readable state, one "name=value" per line.
    std::string state_text(TimePoint now) const;
    // Sets a named value as if the camera had changed it itself. False with a message if unknown.
    bool set_named(const std::string& name, long value, std::string& message, TimePoint now);

    void set_fault(FaultKind kind, int count) { m_fault = kind, m_fault_remaining = count; }
    void set_late(std::chrono::milliseconds late, int count)
    {
        m_late = late;
        m_late_remaining = count;
    }
    void set_format_delay(std::chrono::milliseconds delay) { m_format_delay = delay; }
    void set_completion_delay(std::chrono::milliseconds delay) { m_completion_delay = delay; }
    void set_model_code(uint16_t code) { m_model_code = code; }

private:
    struct Outcome {
        enum Kind { syntax_error, command_done, command_pending, inquiry } kind = syntax_error;
        Bytes reply;             // inquiry reply
        TimePoint completion{};  // command_pending: when the completion goes out
    };

    Outcome execute(const Bytes& packet, TimePoint now);
    Outcome command(const Bytes& packet, TimePoint now);
    Outcome inquiry(const Bytes& packet, TimePoint now);
    bool motion_command(const Bytes& p, TimePoint now, Outcome& out);
    bool lens_command(const Bytes& p, TimePoint now, Outcome& out);
    bool special_command(const Bytes& p, TimePoint now, Outcome& out);
    Setting* find_setting(const Bytes& p, bool inquiry_form);
    Setting* setting_named(const std::string& name);
    uint32_t value_of(const std::string& name) const;
    Bytes block_reply(uint8_t block) const;
    Bytes setting_reply(const Setting& s) const;
    void apply_preset(uint8_t action, uint8_t number, TimePoint now, Outcome& out);
    bool take_fault(FaultKind& kind);
    std::chrono::milliseconds take_late();

    std::vector<Setting> m_settings;
    Axis m_pan{-2448, 2448};
    Axis m_tilt{-432, 1296};
    Axis m_zoom{0, 0x4000};
    Axis m_focus{0x1000, 0xC000};
    struct Preset {
        double pan, tilt, zoom, focus;
    };
    std::map<int, Preset> m_presets;
    uint8_t m_format = 0x14;  // register 72: 1080p50
    std::optional<std::pair<uint8_t, TimePoint>> m_pending_format;
    bool m_menu = false;
    uint8_t m_tally_mode = 0;
    uint8_t m_tally_lamp = 3;  // 1 preview, 2 program, 3 off
    int m_wb_one_push_triggers = 0;
    int m_af_one_push_triggers = 0;
    uint16_t m_model_code = 0x0711;
    std::chrono::milliseconds m_format_delay{1000};
    std::chrono::milliseconds m_completion_delay{0};
    FaultKind m_fault = FaultKind::none;
    int m_fault_remaining = 0;
    std::chrono::milliseconds m_late{0};
    int m_late_remaining = 0;
    std::vector<Reply> m_scheduled;  // completions and replies not yet due
};

// The register settings and their initial values.
std::vector<Setting> camera_settings();

}  // namespace camsim
