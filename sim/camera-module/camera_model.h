#pragma once

#include <array>
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
using Millis = std::chrono::milliseconds;

// One packet the camera sends, and when it becomes ready to go on the line.
struct Reply {
    Bytes bytes;
    TimePoint due;
};

// A setting the camera keeps in a register: written by 8x 01 <prefix> <pad zeros> <value> FF,
// read by 8x 09 <prefix> FF, answered 90 50 <pad zeros> <value> FF. The value is carried as one
// nibble per byte (0p 0q ...) or, in byte mode, one whole byte per byte. A toggling on/off
// setting also takes the value byte 10, which swaps on (2) and off (3).
struct Setting {
    std::string name;
    Bytes prefix;
    int pad = 0;
    bool byte_mode = false;
    int count = 1;
    uint32_t value = 0;
    uint32_t initial = 0;
    bool toggles = false;
};

// What the camera does wrong on purpose (the fault-injection commands).
enum class FaultKind { none, silent, error, notexec, nocomp, garbage, too_long };

// The moving axes as bits of a mask: what a command moves, what a later command takes over.
namespace axis_bit {
inline constexpr uint8_t pan = 0x01;
inline constexpr uint8_t tilt = 0x02;
inline constexpr uint8_t zoom = 0x04;
inline constexpr uint8_t focus = 0x08;
inline constexpr uint8_t pan_tilt = pan | tilt;
inline constexpr uint8_t all = pan | tilt | zoom | focus;
}  // namespace axis_bit

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

// The camera module at VISCA address 1. A command it accepts takes a free socket (1, else 2),
// is acknowledged (90 4y FF) and holds the socket until its completion (90 5y FF) goes out: at
// once for settings, when the axes arrive for moves, or when a later command takes the axes
// over. Inquiries are answered without a socket; malformed packets get a syntax error. Every
// reply is ready one processing delay after what causes it.
class CameraModel {
public:
    static constexpr int kSockets = 2;

    CameraModel();

    // One complete packet (ending in FF) that arrived at `now`: the completions that fell due by
    // then, followed by the answers to the packet.
    std::vector<Reply> handle_packet(const Bytes& packet, TimePoint now);
    // The completions that fall due by `now`, oldest first, and format switches that take effect.
    std::vector<Reply> advance(TimePoint now);
    // The earliest time advance() has something to do.
    std::optional<TimePoint> next_event() const;
    // True when the module takes `packet` as a command: 81 01, a command or setting it knows,
    // every parameter byte in its range, FF. Any other packet with 81 01 gets a syntax error.
    bool accepts_command(const Bytes& packet);
    // True while socket 1 or 2 holds a command whose completion has not gone out.
    bool socket_busy(int socket) const;

    // Human-readable state, one "name=value" per line.
    std::string state_text(TimePoint now) const;
    // Sets a named value as if the camera had changed it itself. False with a message if unknown.
    bool set_named(const std::string& name, long value, std::string& message, TimePoint now);

    void set_fault(FaultKind kind, int count) { m_fault = kind, m_fault_remaining = count; }
    void set_late(Millis late, int count)
    {
        m_late = late;
        m_late_remaining = count;
    }
    void set_format_delay(Millis delay) { m_format_delay = delay; }
    void set_completion_delay(Millis delay) { m_completion_delay = delay; }
    void set_processing_delay(Millis delay) { m_processing_delay = delay; }
    Millis processing_delay() const { return m_processing_delay; }
    void set_model_code(uint16_t code) { m_model_code = code; }
    // Back to the state of a module just switched on (positions, settings, presets, sockets,
    // faults); the configured delays and model code stay.
    void power_up();

private:
    // What a command set going: the axes it moves until `arrival` (none for settings).
    struct Motion {
        uint8_t axes = 0;
        TimePoint arrival{};
    };
    using Handler = Motion (CameraModel::*)(const Bytes& p, TimePoint now);
    using ParamCheck = bool (*)(uint8_t byte);
    // One command the module knows: 8x 01 <body> <one byte per check> FF. `takes` are the axes
    // whose motion it stops or replaces.
    struct CommandRow {
        Bytes body;
        std::vector<ParamCheck> params;
        uint8_t takes;
        Handler run;
    };
    // A command in a socket, from its acknowledgement until its completion goes out.
    struct Job {
        bool busy = false;
        uint8_t axes = 0;  // the axes it still moves
        TimePoint ack_due{};
        TimePoint done{};  // when its completion is ready
    };

    struct NamedAxis {
        const char* name;
        uint8_t bit;
        Axis* axis;
    };

    static const std::vector<CommandRow>& command_table();
    std::array<NamedAxis, 4> named_axes();
    void stop_axes(uint8_t axes, TimePoint now);
    void answer(const Bytes& packet, TimePoint now, std::vector<Reply>& out);
    void answer_fault(FaultKind fault, const Bytes& packet, TimePoint at, std::vector<Reply>& out);
    void answer_command(const Bytes& packet, TimePoint now, TimePoint at, bool complete,
                        std::vector<Reply>& out);
    void answer_cancel(int socket, TimePoint now, TimePoint at, std::vector<Reply>& out);
    bool command_valid(const Bytes& p, const CommandRow*& row, Setting*& setting);
    std::optional<Bytes> inquiry(const Bytes& p, TimePoint now) const;
    std::optional<int> free_socket() const;
    void take_over(uint8_t axes, TimePoint now);
    void clear_sockets(TimePoint now);
    bool standby() const;

    Motion drive_pan_tilt(const Bytes& p, TimePoint now);
    Motion move_pan_tilt(const Bytes& p, TimePoint now);
    Motion home(const Bytes& p, TimePoint now);
    Motion set_menu(const Bytes& p, TimePoint now);
    Motion drive_zoom(const Bytes& p, TimePoint now);
    Motion drive_focus(const Bytes& p, TimePoint now);
    Motion direct_zoom(const Bytes& p, TimePoint now);
    Motion direct_focus(const Bytes& p, TimePoint now);
    Motion set_focus_mode(const Bytes& p, TimePoint now);
    Motion one_push_focus(const Bytes& p, TimePoint now);
    Motion one_push_white_balance(const Bytes& p, TimePoint now);
    Motion preset_reset(const Bytes& p, TimePoint now);
    Motion preset_store(const Bytes& p, TimePoint now);
    Motion preset_recall(const Bytes& p, TimePoint now);
    Motion set_format(const Bytes& p, TimePoint now);
    Motion set_tally_lamp(const Bytes& p, TimePoint now);
    Motion set_tally_mode(const Bytes& p, TimePoint now);
    Motion step_level(const Bytes& p, TimePoint now);
    void write_setting(Setting& s, const Bytes& p);

    Setting* find_setting(const Bytes& p, bool inquiry_form);
    const Setting* find_setting(const Bytes& p, bool inquiry_form) const;
    Setting* setting_named(const std::string& name);
    uint32_t value_of(const std::string& name) const;
    Bytes block_reply(uint8_t block) const;
    static Bytes setting_reply(const Setting& s);
    FaultKind take_fault();
    Millis take_late();

    std::vector<Setting> m_settings;
    Axis m_pan{-2448, 2448};
    Axis m_tilt{-432, 1296};
    Axis m_zoom{0, 0x4000};
    Axis m_focus{0x1000, 0xC000};
    struct Preset {
        double pan, tilt, zoom, focus;
    };
    std::map<int, Preset> m_presets;
    std::array<Job, kSockets> m_jobs{};
    uint8_t m_format = 0x14;  // register 72: 1080p50
    std::optional<std::pair<uint8_t, TimePoint>> m_pending_format;
    bool m_menu = false;
    uint8_t m_tally_mode = 0;
    uint8_t m_tally_lamp = 3;  // 1 preview, 2 program, 3 off
    int m_wb_one_push_triggers = 0;
    int m_af_one_push_triggers = 0;
    uint16_t m_model_code = 0x0711;
    Millis m_format_delay{1000};
    Millis m_completion_delay{0};
    Millis m_processing_delay{2};
    FaultKind m_fault = FaultKind::none;
    int m_fault_remaining = 0;
    Millis m_late{0};
    int m_late_remaining = 0;
};

// The register settings and their initial values.
std::vector<Setting> camera_settings();

}  // namespace camsim
