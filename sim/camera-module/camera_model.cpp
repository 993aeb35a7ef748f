#include "camera_model.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace camsim {

namespace {

constexpr uint8_t kTerminator = 0xFF;
constexpr double kPanUnitsPerSpeedStep = 100.0;  // pan/tilt units per second per speed step
constexpr double kHomeSpeed = 2400.0;
constexpr double kZoomUnitsPerSpeedStep = 2048.0;
constexpr double kFocusUnitsPerSpeedStep = 4096.0;
constexpr double kDirectLensSpeed = 8192.0;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Four nibble bytes (0p 0q 0r 0s) as a 16-bit value.
uint16_t nibbles16(const Bytes& p, size_t at)
{
    uint16_t v = 0;
    for (size_t i = 0; i < 4; ++i) {
        v = static_cast<uint16_t>((v << 4U) | (p[at + i] & 0x0FU));
    }
    return v;
}

void append_nibbles16(Bytes& out, uint16_t v)
{
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(static_cast<uint8_t>((v >> static_cast<unsigned>(shift)) & 0x0FU));
    }
}

Bytes ack()
{
    return {0x90, 0x41, 0xFF};
}

Bytes completion()
{
    return {0x90, 0x51, 0xFF};
}

const char* fault_name(FaultKind kind)
{
    switch (kind) {
    case FaultKind::silent:
        return "silent";
    case FaultKind::error:
        return "error";
    case FaultKind::notexec:
        return "notexec";
    case FaultKind::nocomp:
        return "nocomp";
    case FaultKind::garbage:
        return "garbage";
    case FaultKind::too_long:
        return "long";
    case FaultKind::none:
        break;
    }
    return "none";
}

// The module scales its output for the HD formats: it produces, and reports in register 72,
// 1080p24 for the 24 Hz formats, 1080p50 for the 25/50 Hz ones and 1080p59.94 for the 30/60 Hz
// ones.
uint8_t produced_format(uint8_t requested)
{
    switch (requested) {
    case 0x22:  // 1080p23.98
    case 0x1F:  // 1080p24
        return 0x1F;
    case 0x08:  // 1080p25
    case 0x0C:  // 720p50
    case 0x04:  // 1080i50
    case 0x14:  // 1080p50
        return 0x14;
    case 0x06:  // 1080p29.97
    case 0x07:  // 1080p30
    case 0x09:  // 720p59.94
    case 0x0A:  // 720p60
    case 0x01:  // 1080i59.94
    case 0x02:  // 1080i60
    case 0x13:  // 1080p59.94
    case 0x15:  // 1080p60
        return 0x13;
    case 0x21:  // 2160p23.98
    case 0x20:  // 2160p24
        return 0x20;
    default:
        return requested;
    }
}

}  // namespace

// --- Axis ---

double Axis::at(TimePoint t) const
{
    double p = m_pos + m_velocity * seconds(t - m_since);
    if (m_target) {
        p = m_velocity > 0 ? std::min(p, *m_target) : std::max(p, *m_target);
    }
    return std::clamp(p, m_low, m_high);
}

void Axis::rebase(TimePoint t)
{
    m_pos = at(t);
    m_since = t;
}

void Axis::drive(TimePoint t, double velocity)
{
    rebase(t);
    m_velocity = velocity;
    m_target.reset();
}

TimePoint Axis::move_to(TimePoint t, double target, double speed)
{
    rebase(t);
    target = std::clamp(target, m_low, m_high);
    if (target == m_pos || speed <= 0) {
        m_velocity = 0;
        m_target.reset();
        return t;
    }
    m_velocity = target > m_pos ? speed : -speed;
    m_target = target;
    return t + std::chrono::duration_cast<Clock::duration>(
                   std::chrono::duration<double>(std::fabs(target - m_pos) / speed));
}

void Axis::set(TimePoint t, double position)
{
    m_pos = std::clamp(position, m_low, m_high);
    m_since = t;
    m_velocity = 0;
    m_target.reset();
}

bool Axis::moving(TimePoint t) const
{
    const double p = at(t);
    if (m_velocity == 0) {
        return false;
    }
    if (m_target) {
        return p != *m_target;
    }
    return m_velocity > 0 ? p < m_high : p > m_low;
}

// --- CameraModel ---

CameraModel::CameraModel() : m_settings(camera_settings()) {}

bool CameraModel::take_fault(FaultKind& kind)
{
    kind = m_fault;
    if (m_fault != FaultKind::none && m_fault_remaining > 0 && --m_fault_remaining == 0) {
        m_fault = FaultKind::none;
    }
    return kind != FaultKind::none;
}

std::chrono::milliseconds CameraModel::take_late()
{
    const auto late = m_late;
    if (m_late.count() > 0 && m_late_remaining > 0 && --m_late_remaining == 0) {
        m_late = std::chrono::milliseconds(0);
    }
    return late;
}

std::vector<Reply> CameraModel::handle_packet(const Bytes& packet, TimePoint now)
{
    if (packet.size() < 3 || packet.back() != kTerminator) {
        return {};
    }
    if (packet[0] == 0x88) {
        // Broadcast: address set and interface clear, answered without faults.
        if (packet == Bytes{0x88, 0x30, 0x01, 0xFF}) {
            return {{{0x88, 0x30, 0x02, 0xFF}, now}};
        }
        if (packet == Bytes{0x88, 0x01, 0x00, 0x01, 0xFF}) {
            return {{{0x88, 0x01, 0x00, 0x01, 0xFF}, now}};
        }
        return {};
    }
    if (packet[0] != 0x81) {
        return {};  // for another device on the chain
    }
    FaultKind fault = FaultKind::none;
    take_fault(fault);
    const TimePoint due = now + take_late();
    switch (fault) {
    case FaultKind::silent:
        return {};
    case FaultKind::error:
        return {{{0x90, 0x60, 0x02, 0xFF}, due}};
    case FaultKind::notexec:
        return {{{0x90, 0x61, 0x41, 0xFF}, due}};
    case FaultKind::garbage:
        return {{{0x12, 0x34, 0x56, 0xFF}, due}};
    case FaultKind::too_long: {
        Bytes reply{0x90, 0x50};
        reply.insert(reply.end(), 18, 0x01);
        reply.push_back(kTerminator);
        return {{reply, due}};
    }
    case FaultKind::none:
    case FaultKind::nocomp:
        break;
    }
    const Outcome outcome = execute(packet, now);
    switch (outcome.kind) {
    case Outcome::syntax_error:
        return {{{0x90, 0x60, 0x02, 0xFF}, due}};
    case Outcome::inquiry:
        return {{outcome.reply, due}};
    case Outcome::command_done:
    case Outcome::command_pending:
        break;
    }
    std::vector<Reply> replies{{ack(), due}};
    if (fault != FaultKind::nocomp) {
        TimePoint done = due + m_completion_delay;
        if (outcome.kind == Outcome::command_pending) {
            done = std::max(done, outcome.completion);
        }
        replies.push_back({completion(), done});
    }
    return replies;
}

std::vector<Reply> CameraModel::advance(TimePoint now)
{
    if (m_pending_format && m_pending_format->second <= now) {
        m_format = m_pending_format->first;
        m_pending_format.reset();
    }
    return {};
}

std::optional<TimePoint> CameraModel::next_event() const
{
    if (m_pending_format) {
        return m_pending_format->second;
    }
    return std::nullopt;
}

CameraModel::Outcome CameraModel::execute(const Bytes& packet, TimePoint now)
{
    if (packet.size() < 4) {
        return {};
    }
    if (packet[1] == 0x01) {
        return command(packet, now);
    }
    if (packet[1] == 0x09) {
        return inquiry(packet, now);
    }
    return {};
}

Setting* CameraModel::find_setting(const Bytes& p, bool inquiry_form)
{
    for (Setting& s : m_settings) {
        const size_t length =
            2 + s.prefix.size() + (inquiry_form ? 0 : static_cast<size_t>(s.pad + s.count)) + 1;
        if (p.size() == length && std::equal(s.prefix.begin(), s.prefix.end(), p.begin() + 2)) {
            return &s;
        }
    }
    return nullptr;
}

Setting* CameraModel::setting_named(const std::string& name)
{
    for (Setting& s : m_settings) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

uint32_t CameraModel::value_of(const std::string& name) const
{
    for (const Setting& s : m_settings) {
        if (s.name == name) {
            return s.value;
        }
    }
    return 0;
}

CameraModel::Outcome CameraModel::command(const Bytes& p, TimePoint now)
{
    Outcome out;
    if (motion_command(p, now, out) || lens_command(p, now, out) || special_command(p, now, out)) {
        return out;
    }
    Setting* s = find_setting(p, false);
    if (s == nullptr) {
        return out;
    }
    uint32_t value = 0;
    const size_t first = 2 + s->prefix.size() + static_cast<size_t>(s->pad);
    for (int i = 0; i < s->count; ++i) {
        const uint8_t b = p[first + static_cast<size_t>(i)];
        value = s->byte_mode ? (value << 8U) | b : (value << 4U) | (b & 0x0FU);
    }
    if (value == 0x10 && !s->byte_mode && s->count == 1 && (s->name == "Mute")) {
        value = s->value == 2 ? 3 : 2;  // toggle
    }
    s->value = value;
    out.kind = Outcome::command_done;
    return out;
}

bool CameraModel::motion_command(const Bytes& p, TimePoint now, Outcome& out)
{
    if (p[2] != 0x06) {
        return false;
    }
    const uint8_t id = p[3];
    if (id == 0x01 && p.size() == 9) {  // drive: speed pan, speed tilt, dir pan, dir tilt
        auto velocity = [](uint8_t speed, uint8_t dir) {
            const double v = std::max<int>(speed, 1) * kPanUnitsPerSpeedStep;
            return dir == 0x01 ? v : dir == 0x02 ? -v : 0.0;
        };
        m_pan.drive(now, velocity(p[4], p[6]));
        m_tilt.drive(now, velocity(p[5], p[7]));
        out.kind = Outcome::command_done;
        return true;
    }
    if ((id == 0x02 || id == 0x03) && p.size() == 15) {  // absolute / relative position
        const auto pan = static_cast<int16_t>(nibbles16(p, 6));
        const auto tilt = static_cast<int16_t>(nibbles16(p, 10));
        const double base_pan = id == 0x03 ? m_pan.at(now) : 0.0;
        const double base_tilt = id == 0x03 ? m_tilt.at(now) : 0.0;
        const TimePoint a =
            m_pan.move_to(now, base_pan + pan, std::max<int>(p[4], 1) * kPanUnitsPerSpeedStep);
        const TimePoint b =
            m_tilt.move_to(now, base_tilt + tilt, std::max<int>(p[5], 1) * kPanUnitsPerSpeedStep);
        out.kind = Outcome::command_pending;
        out.completion = std::max(a, b);
        return true;
    }
    if ((id == 0x04 || id == 0x05) && p.size() == 5) {  // home, reset
        const TimePoint a = m_pan.move_to(now, 0, kHomeSpeed);
        const TimePoint b = m_tilt.move_to(now, 0, kHomeSpeed);
        out.kind = Outcome::command_pending;
        out.completion = std::max(a, b);
        return true;
    }
    if (id == 0x06 && p.size() == 6) {  // menu: 02 on, 03 off, 10 toggle
        if (p[4] == 0x02 || p[4] == 0x03 || p[4] == 0x10) {
            m_menu = p[4] == 0x10 ? !m_menu : p[4] == 0x02;
            out.kind = Outcome::command_done;
        }
        return true;
    }
    return true;  // any other pan/tilt packet: syntax error
}

bool CameraModel::lens_command(const Bytes& p, TimePoint now, Outcome& out)
{
    if (p[2] != 0x04) {
        return false;
    }
    const uint8_t id = p[3];
    auto variable_move = [&](Axis& axis, uint8_t v, double per_step) {
        const uint8_t high = v & 0xF0U;
        const int speed = v == 0x02 || v == 0x03 ? 3 : (v & 0x07);
        const double rate = (speed + 1) * per_step;
        if (v == 0x00) {
            axis.stop(now);
        } else if (v == 0x02 || high == 0x20) {
            axis.drive(now, rate);
        } else if (v == 0x03 || high == 0x30) {
            axis.drive(now, -rate);
        } else {
            return;  // out.kind stays syntax error
        }
        out.kind = Outcome::command_done;
    };
    if (id == 0x07 && p.size() == 6) {
        variable_move(m_zoom, p[4], kZoomUnitsPerSpeedStep);
        return true;
    }
    if (id == 0x08 && p.size() == 6) {
        variable_move(m_focus, p[4], kFocusUnitsPerSpeedStep);
        return true;
    }
    if ((id == 0x47 || id == 0x48) && p.size() == 9) {
        Axis& axis = id == 0x47 ? m_zoom : m_focus;
        out.kind = Outcome::command_pending;
        out.completion = axis.move_to(now, nibbles16(p, 4), kDirectLensSpeed);
        return true;
    }
    if (id == 0x38 && p.size() == 6) {  // focus mode: 02 auto, 03 manual, 10 toggle
        Setting* mode = setting_named("FocusMode");
        if (p[4] == 0x02 || p[4] == 0x03) {
            mode->value = p[4];
            out.kind = Outcome::command_done;
        } else if (p[4] == 0x10) {
            mode->value = mode->value == 2 ? 3 : 2;
            out.kind = Outcome::command_done;
        }
        return true;
    }
    if (id == 0x18 && p.size() == 6 && p[4] == 0x01) {  // one-push auto focus
        ++m_af_one_push_triggers;
        out.kind = Outcome::command_done;
        return true;
    }
    if (id == 0x10 && p.size() == 6 && p[4] == 0x05) {  // one-push white balance trigger
        ++m_wb_one_push_triggers;
        out.kind = Outcome::command_done;
        return true;
    }
    if (id == 0x3F && p.size() == 7) {  // preset: 00 reset, 01 store, 02 recall
        apply_preset(p[4], p[5], now, out);
        return true;
    }
    return false;
}

void CameraModel::apply_preset(uint8_t action, uint8_t number, TimePoint now, Outcome& out)
{
    if (number > 0x7F || action > 0x02) {
        return;
    }
    out.kind = Outcome::command_done;
    if (action == 0x00) {
        m_presets.erase(number);
    } else if (action == 0x01) {
        m_presets[number] = {m_pan.at(now), m_tilt.at(now), m_zoom.at(now), m_focus.at(now)};
    } else {
        const auto found = m_presets.find(number);
        const Preset target = found != m_presets.end() ? found->second : Preset{0, 0, 0, 0x1000};
        const TimePoint done = std::max({m_pan.move_to(now, target.pan, kHomeSpeed),
                                         m_tilt.move_to(now, target.tilt, kHomeSpeed),
                                         m_zoom.move_to(now, target.zoom, kDirectLensSpeed),
                                         m_focus.move_to(now, target.focus, kDirectLensSpeed)});
        out.kind = Outcome::command_pending;
        out.completion = done;
    }
}

bool CameraModel::special_command(const Bytes& p, TimePoint now, Outcome& out)
{
    if (p.size() == 8 && p[2] == 0x04 && p[3] == 0x24 && p[4] == 0x72) {  // video format
        const uint8_t value =
            produced_format(static_cast<uint8_t>(((p[5] & 0x0FU) << 4U) | (p[6] & 0x0FU)));
        if (m_format_delay.count() == 0) {
            m_format = value;
            m_pending_format.reset();
        } else {
            m_pending_format = std::make_pair(value, now + m_format_delay);
        }
        out.kind = Outcome::command_done;
        return true;
    }
    if (p.size() == 8 && p[2] == 0x7E && p[3] == 0x01 && p[4] == 0x0A) {  // tally lamp
        if (p[5] == 0x01) {
            m_tally_mode = p[6];
            out.kind = Outcome::command_done;
        } else if (p[5] == 0x00 && p[6] >= 1 && p[6] <= 3) {
            m_tally_lamp = p[6];
            out.kind = Outcome::command_done;
        }
        return true;
    }
    if (p.size() == 6 && p[2] == 0x04 &&
        (p[3] == 0x0B || p[3] == 0x0A || p[3] == 0x0D || p[3] == 0x0C)) {  // up/down/reset
        const char* name = p[3] == 0x0B   ? "IrisLevel"
                           : p[3] == 0x0A ? "ShutterSpeed"
                           : p[3] == 0x0D ? "BrightLevel"
                                          : "GainLevel";
        Setting* s = setting_named(name);
        if (p[4] == 0x00) {
            s->value = s->initial;
        } else if (p[4] == 0x02) {
            s->value = std::min<uint32_t>(s->value + 1, 0xFE);
        } else if (p[4] == 0x03) {
            s->value = s->value > 0 ? s->value - 1 : 0;
        } else {
            return true;
        }
        out.kind = Outcome::command_done;
        return true;
    }
    return false;
}

Bytes CameraModel::setting_reply(const Setting& s) const
{
    Bytes reply{0x90, 0x50};
    reply.insert(reply.end(), static_cast<size_t>(s.pad), 0x00);
    for (int i = s.count - 1; i >= 0; --i) {
        const unsigned shift = static_cast<unsigned>(i) * (s.byte_mode ? 8U : 4U);
        reply.push_back(static_cast<uint8_t>((s.value >> shift) & (s.byte_mode ? 0xFFU : 0x0FU)));
    }
    reply.push_back(kTerminator);
    return reply;
}

CameraModel::Outcome CameraModel::inquiry(const Bytes& p, TimePoint now)
{
    Outcome out;
    out.kind = Outcome::inquiry;
    const auto is = [&](std::initializer_list<uint8_t> body) {
        return p.size() == body.size() + 3 && std::equal(body.begin(), body.end(), p.begin() + 2);
    };
    if (is({0x00, 0x02})) {  // version: vendor, model, ROM, socket count
        out.reply = {0x90,
                     0x50,
                     0x00,
                     0x20,
                     static_cast<uint8_t>(m_model_code >> 8U),
                     static_cast<uint8_t>(m_model_code & 0xFFU),
                     0x01,
                     0x00,
                     0x02,
                     kTerminator};
    } else if (p.size() == 6 && p[2] == 0x7E && p[3] == 0x7E && p[4] >= 0x10 && p[4] <= 0x16) {
        out.reply = block_reply(p[4]);
    } else if (is({0x04, 0x24, 0x72})) {
        out.reply = {0x90, 0x50, static_cast<uint8_t>(m_format >> 4U),
                     static_cast<uint8_t>(m_format & 0x0FU), kTerminator};
    } else if (is({0x06, 0x12})) {
        out.reply = {0x90, 0x50};
        append_nibbles16(out.reply,
                         static_cast<uint16_t>(static_cast<int16_t>(std::lround(m_pan.at(now)))));
        append_nibbles16(out.reply,
                         static_cast<uint16_t>(static_cast<int16_t>(std::lround(m_tilt.at(now)))));
        out.reply.push_back(kTerminator);
    } else if (is({0x04, 0x47}) || is({0x04, 0x48})) {
        const Axis& axis = p[3] == 0x47 ? m_zoom : m_focus;
        out.reply = {0x90, 0x50};
        append_nibbles16(out.reply, static_cast<uint16_t>(std::lround(axis.at(now))));
        out.reply.push_back(kTerminator);
    } else if (is({0x04, 0x15}) || is({0x06, 0x06})) {
        out.reply = {0x90, 0x50, static_cast<uint8_t>(m_menu ? 0x02 : 0x03), kTerminator};
    } else if (is({0x7E, 0x01, 0x0A})) {
        out.reply = {0x90, 0x50, m_tally_lamp, kTerminator};
    } else if (const Setting* s = find_setting(p, true)) {
        out.reply = setting_reply(*s);
    } else {
        out.kind = Outcome::syntax_error;
    }
    return out;
}

Bytes CameraModel::block_reply(uint8_t block) const
{
    Bytes r(16, 0x00);
    r[0] = 0x90;
    r[1] = 0x50;
    r[2] = block;
    r[15] = kTerminator;
    auto put = [&](size_t at, uint32_t v) {
        // FF ends a packet on the line: a data byte never carries it.
        r[at] = static_cast<uint8_t>(std::min<uint32_t>(v & 0xFFU, 0xFE));
    };
    auto v = [&](const char* name) { return value_of(name); };
    switch (block) {
    case 0x10:
        put(3, v("ExpMode"));
        put(4, v("SlowShutterEn"));
        put(5, v("SlowShutterLimit"));
        put(6, v("AeResponse"));
        put(7, v("GainLimit"));
        put(8, v("GainLevel"));
        put(9, v("ExpCompEn") == 2 ? 1 : 0);
        put(10, v("ExpCompLvl"));
        put(12, v("IrisLevel"));
        put(13, v("ShutterSpeed") >= 6 ? v("ShutterSpeed") - 6 : 0);
        put(14, v("BrightLevel"));
        break;
    case 0x11:
        put(3, v("WbMode"));
        put(4, v("RedGain"));
        put(5, v("BlueGain"));
        put(8, v("GainPoint"));
        put(9, v("GainPointPosition"));
        put(10, v("ShutterMaxSpeed"));
        put(11, v("ShutterMinSpeed"));
        put(12, v("BackLight"));
        put(13, v("Spotlight"));
        break;
    case 0x12:
        put(7, v("Flip"));
        put(8, v("Mirror"));
        put(11, v("NDFilter"));
        put(12, v("HighSensitivity"));
        put(13, v("TWOTHREEDNR") >> 4U);
        put(14, v("TWOTHREEDNR") & 0x0FU);
        break;
    case 0x13:
        put(3, v("IRCutFilter"));
        put(4, v("ChromeSuppress"));
        put(5, v("HighlightComp") == 16 ? 1 : 0);
        put(8, v("Stabilizer") == 2 || v("Stabilizer") == 4 ? 4 : 3);
        break;
    case 0x14:
        put(3, v("WbSpeed"));
        put(4, v("WbOffset"));
        put(5, v("Matrix"));
        put(6, v("Matrix"));
        put(7, v("WbLevel"));
        put(8, v("Phase"));
        put(9, v("RG"));
        put(10, v("RB"));
        put(11, v("GR"));
        put(12, v("GB"));
        put(13, v("BR"));
        put(14, v("BG"));
        break;
    case 0x15:
        put(3, v("Detail"));
        put(4, v("Bandwidth"));
        put(5, v("Crispening"));
        put(6, v("HvBalance") + 5);
        put(7, v("BwBalance"));
        put(8, v("Limit"));
        put(9, v("HighLightDetail"));
        put(10, v("SuperLow"));
        put(11, v("DetailLevel"));
        put(12, v("FocusMode"));
        put(14, v("Freeze"));
        break;
    case 0x16: {
        put(3, v("GammaSettings"));
        put(4, v("PatternREG") / 10);
        put(5, v("PatternREG") % 10);
        // Sign and magnitude around 64: c >= 64 is c - 64, c <= 63 is 320 - c (256 + magnitude).
        const uint32_t offset = v("GammaOffset");
        put(6, offset < 256 ? std::min<uint32_t>(offset + 64, 0xFE) : 320 - std::min(offset, 320U));
        put(7, v("GammaLevel"));
        put(8, v("BlackGammaLevel"));
        put(9, v("BlackLevelRange"));
        put(10, v("BlackLevel"));
        put(11, v("VisibilityEnhancer"));
        put(12, v("Effect") >> 24U);
        put(13, m_menu ? 2 : 3);
        break;
    }
    default:
        break;
    }
    return r;
}

std::string CameraModel::state_text(TimePoint now) const
{
    std::ostringstream out;
    for (const Setting& s : m_settings) {
        out << s.name << '=' << s.value << '\n';
    }
    out << "pan=" << std::lround(m_pan.at(now)) << "\ntilt=" << std::lround(m_tilt.at(now))
        << "\nzoom=" << std::lround(m_zoom.at(now)) << "\nfocus=" << std::lround(m_focus.at(now))
        << "\nmoving=" << (m_pan.moving(now) || m_tilt.moving(now) || m_zoom.moving(now) ? 1 : 0)
        << "\nformat=" << static_cast<int>(m_format) << "\npending_format="
        << (m_pending_format ? static_cast<int>(m_pending_format->first) : -1)
        << "\nmenu=" << (m_menu ? 1 : 0) << "\ntally_mode=" << static_cast<int>(m_tally_mode)
        << "\ntally_lamp=" << static_cast<int>(m_tally_lamp) << "\npresets=" << m_presets.size()
        << "\nwb_one_push=" << m_wb_one_push_triggers << "\naf_one_push=" << m_af_one_push_triggers
        << "\nmodel_code=" << m_model_code << "\nfault=" << fault_name(m_fault)
        << "\nlate_ms=" << m_late.count() << '\n';
    return out.str();
}

bool CameraModel::set_named(const std::string& name, long value, std::string& message,
                            TimePoint now)
{
    if (Setting* s = setting_named(name)) {
        s->value = static_cast<uint32_t>(value);
    } else if (name == "pan") {
        m_pan.set(now, static_cast<double>(value));
    } else if (name == "tilt") {
        m_tilt.set(now, static_cast<double>(value));
    } else if (name == "zoom") {
        m_zoom.set(now, static_cast<double>(value));
    } else if (name == "focus") {
        m_focus.set(now, static_cast<double>(value));
    } else if (name == "format") {
        m_format = static_cast<uint8_t>(value);
        m_pending_format.reset();
    } else if (name == "menu") {
        m_menu = value != 0;
    } else if (name == "tally_lamp") {
        m_tally_lamp = static_cast<uint8_t>(value);
    } else if (name == "model_code") {
        m_model_code = static_cast<uint16_t>(value);
    } else {
        message = "unknown value " + name;
        return false;
    }
    return true;
}

}  // namespace camsim
