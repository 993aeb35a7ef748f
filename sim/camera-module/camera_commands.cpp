// The commands (8x 01 ...) the camera module knows: their parameter checks and what they do.
#include <algorithm>
#include <cmath>

#include "camera_model.h"
#include "visca_codes.h"

namespace camsim {

namespace {

constexpr double kPanUnitsPerSpeedStep = 100.0;  // pan/tilt units per second per speed step
constexpr double kHomeSpeed = 2400.0;            // home, reset and preset recall (pan/tilt)
constexpr double kZoomUnitsPerSpeedStep = 2048.0;
constexpr double kFocusUnitsPerSpeedStep = 4096.0;
constexpr double kDirectLensSpeed = 8192.0;  // direct zoom/focus and preset recall (lens)
constexpr int kStandardLensSpeed = 3;        // the speed step of the plain 02/03 lens drives
constexpr size_t kBodyStart = 2;             // after the address and the 01 of a command

constexpr uint8_t kMaxPanSpeed = 0x18;
constexpr uint8_t kMaxTiltSpeed = 0x17;
constexpr uint8_t kDirectionA = 0x01;  // pan left, tilt up
constexpr uint8_t kDirectionB = 0x02;  // pan right, tilt down
constexpr uint8_t kDirectionStop = 0x03;
using visca::kOff;
using visca::kOn;
using visca::kToggle;
constexpr uint8_t kLensStop = 0x00;
constexpr uint8_t kLensPositive = 0x02;  // zoom tele, focus far: 02 or 2p
constexpr uint8_t kLensNegative = 0x03;  // zoom wide, focus near: 03 or 3p
constexpr uint8_t kMaxLensSpeed = 0x07;
constexpr uint8_t kMaxPreset = 0x7F;
constexpr uint8_t kLevelReset = 0x00;
constexpr uint8_t kLevelUp = 0x02;
constexpr uint8_t kLevelDown = 0x03;
constexpr uint8_t kLevelMax = 0xFE;  // a value never shows as FF in a block byte

// Parameter byte checks.
bool nibble(uint8_t b)
{
    return b <= 0x0F;
}

bool pan_speed(uint8_t b)
{
    return b >= 0x01 && b <= kMaxPanSpeed;
}

bool tilt_speed(uint8_t b)
{
    return b >= 0x01 && b <= kMaxTiltSpeed;
}

// Absolute and relative moves also take tilt speed 00: tilt synchronised with pan.
bool move_tilt_speed(uint8_t b)
{
    return b == 0x00 || tilt_speed(b);
}

bool direction(uint8_t b)
{
    return b == kDirectionA || b == kDirectionB || b == kDirectionStop;
}

bool on_off_toggle(uint8_t b)
{
    return b == kOn || b == kOff || b == kToggle;
}

bool lens_drive(uint8_t b)
{
    const auto high = static_cast<uint8_t>(b & 0xF0U);
    const auto low = static_cast<uint8_t>(b & 0x0FU);
    return b == kLensStop || b == kLensPositive || b == kLensNegative ||
           ((high == kLensPositive << 4U || high == kLensNegative << 4U) && low <= kMaxLensSpeed);
}

bool preset_number(uint8_t b)
{
    return b <= kMaxPreset;
}

bool tally_lamp(uint8_t b)
{
    return b >= 0x01 && b <= 0x03;
}

bool level_step(uint8_t b)
{
    return b == kLevelReset || b == kLevelUp || b == kLevelDown;
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

double drive_velocity(uint8_t speed, uint8_t dir)
{
    const double v = speed * kPanUnitsPerSpeedStep;
    return dir == kDirectionA ? v : dir == kDirectionB ? -v : 0.0;
}

// The module scales its output for the HD formats: it produces, and reports in register 72,
// 1080p24 for the 24 Hz formats, 1080p50 for the 25/50 Hz ones and 1080p59.94 for the 30/60 Hz
// ones.
uint8_t produced_format(uint8_t requested)
{
    struct Produced {
        uint8_t requested;
        uint8_t produced;
    };
    static constexpr Produced kProduced[] = {
        {0x22, 0x1F}, {0x1F, 0x1F},                // 1080p23.98, 1080p24
        {0x08, 0x14}, {0x0C, 0x14}, {0x04, 0x14},  // 1080p25, 720p50, 1080i50
        {0x14, 0x14},                              // 1080p50
        {0x06, 0x13}, {0x07, 0x13}, {0x09, 0x13},  // 1080p29.97, 1080p30, 720p59.94
        {0x0A, 0x13}, {0x01, 0x13}, {0x02, 0x13},  // 720p60, 1080i59.94, 1080i60
        {0x13, 0x13}, {0x15, 0x13},                // 1080p59.94, 1080p60
        {0x21, 0x20}, {0x20, 0x20},                // 2160p23.98, 2160p24
    };
    for (const Produced& row : kProduced) {
        if (row.requested == requested) {
            return row.produced;
        }
    }
    return requested;
}

}  // namespace

const std::vector<CameraModel::CommandRow>& CameraModel::command_table()
{
    using M = CameraModel;
    // Speeds, then pan and tilt as four nibbles each.
    static const std::vector<ParamCheck> move{pan_speed, move_tilt_speed, nibble, nibble, nibble,
                                              nibble,    nibble,          nibble, nibble, nibble};
    static const std::vector<ParamCheck> lens_position(4, nibble);
    static const std::vector<CommandRow> table = {
        {{0x06, 0x01},
         {pan_speed, tilt_speed, direction, direction},
         axis_bit::pan_tilt,
         &M::drive_pan_tilt},
        {{0x06, 0x02}, move, axis_bit::pan_tilt, &M::move_pan_tilt},  // absolute
        {{0x06, 0x03}, move, axis_bit::pan_tilt, &M::move_pan_tilt},  // relative
        {{0x06, 0x04}, {}, axis_bit::pan_tilt, &M::home},
        {{0x06, 0x05}, {}, axis_bit::pan_tilt, &M::home},  // reset
        {{0x06, 0x06}, {on_off_toggle}, 0, &M::set_menu},
        {{0x04, 0x07}, {lens_drive}, axis_bit::zoom, &M::drive_zoom},
        {{0x04, 0x08}, {lens_drive}, axis_bit::focus, &M::drive_focus},
        {{0x04, 0x47}, lens_position, axis_bit::zoom, &M::direct_zoom},
        {{0x04, 0x48}, lens_position, axis_bit::focus, &M::direct_focus},
        {{0x04, 0x38}, {on_off_toggle}, 0, &M::set_focus_mode},
        {{0x04, 0x18, 0x01}, {}, 0, &M::one_push_focus},
        {{0x04, 0x10, 0x05}, {}, 0, &M::one_push_white_balance},
        {{0x04, 0x3F, 0x00}, {preset_number}, 0, &M::preset_reset},
        {{0x04, 0x3F, 0x01}, {preset_number}, 0, &M::preset_store},
        {{0x04, 0x3F, 0x02}, {preset_number}, axis_bit::all, &M::preset_recall},
        {{0x04, 0x24, 0x72}, {nibble, nibble}, 0, &M::set_format},
        {{0x7E, 0x01, 0x0A, 0x00}, {tally_lamp}, 0, &M::set_tally_lamp},
        {{0x7E, 0x01, 0x0A, 0x01}, {nibble}, 0, &M::set_tally_mode},
        {{0x04, 0x0B}, {level_step}, 0, &M::step_level},  // iris
        {{0x04, 0x0A}, {level_step}, 0, &M::step_level},  // shutter
        {{0x04, 0x0D}, {level_step}, 0, &M::step_level},  // bright
        {{0x04, 0x0C}, {level_step}, 0, &M::step_level},  // gain
    };
    return table;
}

bool CameraModel::accepts_command(const Bytes& packet)
{
    const CommandRow* row = nullptr;
    Setting* setting = nullptr;
    return packet.size() >= 3 && packet[0] == visca::kCameraAddress &&
           packet[1] == visca::kCommand && packet.back() == visca::kTerminator &&
           command_valid(packet, row, setting);
}

bool CameraModel::command_valid(const Bytes& p, const CommandRow*& row, Setting*& setting)
{
    for (const CommandRow& r : command_table()) {
        if (p.size() == kBodyStart + r.body.size() + r.params.size() + 1 &&
            std::equal(r.body.begin(), r.body.end(), p.begin() + kBodyStart)) {
            row = &r;
            const size_t first = kBodyStart + r.body.size();
            for (size_t i = 0; i < r.params.size(); ++i) {
                if (!r.params[i](p[first + i])) {
                    return false;
                }
            }
            return true;
        }
    }
    setting = find_setting(p, false);
    if (setting == nullptr) {
        return false;
    }
    const size_t pad_start = kBodyStart + setting->prefix.size();
    const size_t value_start = pad_start + static_cast<size_t>(setting->pad);
    const auto value_end = static_cast<std::ptrdiff_t>(p.size() - 1);
    const auto zero = [](uint8_t b) { return b == 0; };
    if (!std::all_of(p.begin() + static_cast<std::ptrdiff_t>(pad_start),
                     p.begin() + static_cast<std::ptrdiff_t>(value_start), zero)) {
        return false;
    }
    if (setting->byte_mode) {
        return true;
    }
    if (setting->toggles && p[value_start] == kToggle) {
        return true;
    }
    return std::all_of(p.begin() + static_cast<std::ptrdiff_t>(value_start), p.begin() + value_end,
                       nibble);
}

void CameraModel::write_setting(Setting& s, const Bytes& p)
{
    const size_t first = kBodyStart + s.prefix.size() + static_cast<size_t>(s.pad);
    if (s.toggles && p[first] == kToggle) {
        s.value = s.value == kOn ? kOff : kOn;
        return;
    }
    uint32_t value = 0;
    for (int i = 0; i < s.count; ++i) {
        const uint8_t b = p[first + static_cast<size_t>(i)];
        value = s.byte_mode ? (value << 8U) | b : (value << 4U) | b;
    }
    s.value = value;
}

CameraModel::Motion CameraModel::drive_pan_tilt(const Bytes& p, TimePoint now)
{
    // Direction A is left for pan, towards negative positions (a positive pan position is to the
    // right), and up for tilt, towards positive ones.
    m_pan.drive(now, -drive_velocity(p[4], p[6]));
    m_tilt.drive(now, drive_velocity(p[5], p[7]));
    return {0, now};
}

CameraModel::Motion CameraModel::move_pan_tilt(const Bytes& p, TimePoint now)
{
    const bool relative = p[3] == 0x03;  // 06 03; 06 02 is absolute
    const auto pan = static_cast<int16_t>(nibbles16(p, 6));
    const auto tilt = static_cast<int16_t>(nibbles16(p, 10));
    const double base_pan = relative ? m_pan.at(now) : 0.0;
    const double base_tilt = relative ? m_tilt.at(now) : 0.0;
    const double pan_rate = p[4] * kPanUnitsPerSpeedStep;
    double tilt_rate = p[5] * kPanUnitsPerSpeedStep;
    if (p[5] == 0x00) {
        // Synchronised: tilt takes as long as pan, or moves at the pan speed when pan stays.
        const double pan_way = std::abs(base_pan + pan - m_pan.at(now));
        const double tilt_way = std::abs(base_tilt + tilt - m_tilt.at(now));
        tilt_rate = pan_way > 0.0 ? pan_rate * tilt_way / pan_way : pan_rate;
    }
    const TimePoint a = m_pan.move_to(now, base_pan + pan, pan_rate);
    const TimePoint b = m_tilt.move_to(now, base_tilt + tilt, tilt_rate);
    return {axis_bit::pan_tilt, std::max(a, b)};
}

CameraModel::Motion CameraModel::home(const Bytes& /*p*/, TimePoint now)
{
    const TimePoint a = m_pan.move_to(now, 0, kHomeSpeed);
    const TimePoint b = m_tilt.move_to(now, 0, kHomeSpeed);
    return {axis_bit::pan_tilt, std::max(a, b)};
}

CameraModel::Motion CameraModel::set_menu(const Bytes& p, TimePoint now)
{
    m_menu = p[4] == kToggle ? !m_menu : p[4] == kOn;
    return {0, now};
}

namespace {

// A variable lens drive byte (checked): the velocity in units per second.
double lens_velocity(uint8_t v, double per_step)
{
    if (v == kLensStop) {
        return 0.0;
    }
    const bool plain = v == kLensPositive || v == kLensNegative;
    const int speed = plain ? kStandardLensSpeed : (v & kMaxLensSpeed);
    const double rate = (speed + 1) * per_step;
    const bool positive = v == kLensPositive || (v >> 4U) == kLensPositive;
    return positive ? rate : -rate;
}

}  // namespace

CameraModel::Motion CameraModel::drive_zoom(const Bytes& p, TimePoint now)
{
    m_zoom.drive(now, lens_velocity(p[4], kZoomUnitsPerSpeedStep));
    return {0, now};
}

CameraModel::Motion CameraModel::drive_focus(const Bytes& p, TimePoint now)
{
    m_focus.drive(now, lens_velocity(p[4], kFocusUnitsPerSpeedStep));
    return {0, now};
}

CameraModel::Motion CameraModel::direct_zoom(const Bytes& p, TimePoint now)
{
    return {axis_bit::zoom, m_zoom.move_to(now, nibbles16(p, 4), kDirectLensSpeed)};
}

CameraModel::Motion CameraModel::direct_focus(const Bytes& p, TimePoint now)
{
    return {axis_bit::focus, m_focus.move_to(now, nibbles16(p, 4), kDirectLensSpeed)};
}

CameraModel::Motion CameraModel::set_focus_mode(const Bytes& p, TimePoint now)
{
    Setting* mode = setting_named("FocusMode");
    mode->value = p[4] != kToggle ? p[4] : mode->value == kOn ? kOff : kOn;
    return {0, now};
}

CameraModel::Motion CameraModel::one_push_focus(const Bytes& /*p*/, TimePoint now)
{
    ++m_af_one_push_triggers;
    return {0, now};
}

CameraModel::Motion CameraModel::one_push_white_balance(const Bytes& /*p*/, TimePoint now)
{
    ++m_wb_one_push_triggers;
    return {0, now};
}

CameraModel::Motion CameraModel::preset_reset(const Bytes& p, TimePoint now)
{
    m_presets.erase(p[5]);
    return {0, now};
}

CameraModel::Motion CameraModel::preset_store(const Bytes& p, TimePoint now)
{
    m_presets[p[5]] = {m_pan.at(now), m_tilt.at(now), m_zoom.at(now), m_focus.at(now)};
    return {0, now};
}

CameraModel::Motion CameraModel::preset_recall(const Bytes& p, TimePoint now)
{
    const auto found = m_presets.find(p[5]);
    const Preset target = found != m_presets.end() ? found->second : Preset{0, 0, 0, 0x1000};
    const TimePoint done = std::max({m_pan.move_to(now, target.pan, kHomeSpeed),
                                     m_tilt.move_to(now, target.tilt, kHomeSpeed),
                                     m_zoom.move_to(now, target.zoom, kDirectLensSpeed),
                                     m_focus.move_to(now, target.focus, kDirectLensSpeed)});
    return {axis_bit::all, done};
}

CameraModel::Motion CameraModel::set_format(const Bytes& p, TimePoint now)
{
    const uint8_t value = produced_format(static_cast<uint8_t>((p[5] << 4U) | p[6]));
    if (m_format_delay.count() == 0) {
        m_format = value;
        m_pending_format.reset();
    } else {
        m_pending_format = std::make_pair(value, now + m_format_delay);
    }
    return {0, now};
}

CameraModel::Motion CameraModel::set_tally_lamp(const Bytes& p, TimePoint now)
{
    m_tally_lamp = p[6];
    return {0, now};
}

CameraModel::Motion CameraModel::set_tally_mode(const Bytes& p, TimePoint now)
{
    m_tally_mode = p[6];
    return {0, now};
}

CameraModel::Motion CameraModel::step_level(const Bytes& p, TimePoint now)
{
    struct Level {
        uint8_t id;
        const char* setting;
    };
    static constexpr Level kLevels[] = {
        {0x0B, "IrisLevel"}, {0x0A, "ShutterSpeed"}, {0x0D, "BrightLevel"}, {0x0C, "GainLevel"}};
    for (const Level& level : kLevels) {
        if (level.id != p[3]) {
            continue;
        }
        Setting* s = setting_named(level.setting);
        if (p[4] == kLevelReset) {
            s->value = s->initial;
        } else if (p[4] == kLevelUp) {
            s->value = std::min<uint32_t>(s->value + 1, kLevelMax);
        } else {
            s->value = s->value > 0 ? s->value - 1 : 0;
        }
    }
    return {0, now};
}

}  // namespace camsim
