#include "camcontrol/ndi_ptz_elements.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <rapidxml/rapidxml.hpp>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/ndi_ptz_values.h"

// The NDI PTZ metadata elements and the commands each one writes into the engine's capture
// buffer. A value that the camera would refuse never reaches a command: speeds are held to the
// camera's range, out-of-range preset numbers and register values leave their command unwritten.
// Within one buffer the last element written for an axis wins: an element that moves or stops
// pan/tilt, zoom or focus first withdraws what earlier elements left pending for that axis, so the
// engine's fixed sending order can never put an earlier move after a later stop, or the reverse.

namespace {

using Slot = visca_command (visca::*)[visca::number_of_cmd];

constexpr uint8_t kOnePushTrigger = 0x05;
constexpr uint8_t kFocusDrive = 0x08;
constexpr uint8_t kFocusOnePush = 0x18;
constexpr uint8_t kFocusFar = 0x20;
constexpr uint8_t kFocusNear = 0x30;
constexpr uint8_t kZoomTele = 0x20;
constexpr uint8_t kZoomWide = 0x30;

// The slots that move or stop each axis.
const Slot kPanTiltAxis[] = {&visca::cam_pt_dir_move_command, &visca::cam_pt_stop_command,
                             &visca::cam_pt_position_command, &visca::cam_pt_ab_position_command,
                             &visca::cam_pt_home_command,     &visca::cam_pt_reset_command};
const Slot kZoomAxis[] = {&visca::cam_zoom_direct, &visca::cam_zoom_speed, &visca::cam_zoom_stop};
const Slot kFocusAxis[] = {&visca::cam_focus_near_far_speed, &visca::cam_focus_near_far_dir,
                           &visca::cam_focus_stop};

visca_command& slot(const ndi_ptz_request& r, Slot s)
{
    return (r.cam.m_visca.*s)[r.index];
}

// Marks a command as prepared by the engine (no variable bytes) pending.
void fill(const ndi_ptz_request& r, Slot s)
{
    slot(r, s).cmd_fill = true;
}

// Withdraws whatever earlier elements left pending for the axis in this buffer.
template <std::size_t N> void claim_axis(const ndi_ptz_request& r, const Slot (&axis)[N])
{
    for (const Slot s : axis) {
        slot(r, s).cmd_fill = false;
    }
}

void fill_byte4(const ndi_ptz_request& r, Slot s, uint8_t value)
{
    visca_command& command = slot(r, s);
    command.cmd[4] = value;
    command.cmd_fill = true;
}

void put_nibbles(uint8_t* at, uint16_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>((value >> (12 - 4 * i)) & 0x0FU);
    }
}

void fill_nibbles(const ndi_ptz_request& r, Slot s, uint16_t value)
{
    visca_command& command = slot(r, s);
    put_nibbles(command.cmd + 4, value);
    command.cmd_fill = true;
}

// A register value attribute (0..255): written as nibbles when present and in range.
void fill_register(const ndi_ptz_request& r, const char* name, Slot s)
{
    const char* text = r.attribute(name);
    if (text == nullptr) {
        return;
    }
    const int64_t value = ndi_ptz_integer(text);
    if (value < 0 || value > kPtzMaxRegisterValue) {
        return;
    }
    fill_nibbles(r, s, static_cast<uint16_t>(value));
}

bool word_is(const char* text, const char* word)
{
    return text != nullptr && ::strcasecmp(text, word) == 0;
}

// A word attribute looked up in a table of {word, value}; `fallback` when missing or unknown.
struct WordValue {
    const char* word;
    uint8_t value;
};
template <std::size_t N>
uint8_t word_value(const char* text, const WordValue (&table)[N], uint8_t fallback)
{
    for (const WordValue& row : table) {
        if (word_is(text, row.word)) {
            return row.value;
        }
    }
    return fallback;
}

// Absolute zoom as NDI controllers send it: 0 zoomed in (tele) .. 1 zoomed out (wide). A missing
// value or not-a-number leaves the lens at the wide end rather than driving it to full tele.
void zoom(const ndi_ptz_request& r)
{
    claim_axis(r, kZoomAxis);
    const char* text = r.attribute("zoom");
    const double value = text == nullptr ? std::nan("") : std::strtod(text, nullptr);
    const double tele = std::isnan(value) ? 0.0 : 1.0 - value;
    fill_nibbles(r, &visca::cam_zoom_direct, ndi_ptz_zoom_position(tele));
}

// Speed p (0..7) of a lens drive: the integer part of limit x |speed|, |speed| held to 1.
uint8_t lens_speed(int limit, double speed)
{
    const double magnitude = ndi_ptz_clamp(std::fabs(speed), 0.0, 1.0);
    return static_cast<uint8_t>(static_cast<int64_t>(limit * magnitude) & kPtzMaxLensSpeed);
}

// A focus drive 81 01 04 08 2p/3p FF in the drive slot.
void focus_drive(const ndi_ptz_request& r, uint8_t drive)
{
    visca_command& command = slot(r, &visca::cam_focus_near_far_dir);
    command.cmd[3] = kFocusDrive;
    command.cmd[4] = drive;
    command.cmd_fill = true;
}

// A zoom drive 81 01 04 07 2p/3p FF.
void zoom_drive(const ndi_ptz_request& r, uint8_t drive)
{
    fill_byte4(r, &visca::cam_zoom_speed, drive);
}

// A continuous lens drive from a speed attribute (-1..+1): 0, missing or no number fills the
// stop; otherwise `write` gets the direction's nibble plus lens_speed(limit, speed).
struct LensDrive {
    const char* attribute;
    Slot stop;
    uint8_t positive;
    uint8_t negative;
    void (*write)(const ndi_ptz_request& r, uint8_t drive);
};

void lens_drive(const ndi_ptz_request& r, const LensDrive& drive, int limit)
{
    const double speed = ndi_ptz_drive_speed_value(r.attribute(drive.attribute)).value_or(0.0);
    if (speed == 0.0) {
        fill(r, drive.stop);
        return;
    }
    drive.write(r, static_cast<uint8_t>((speed > 0.0 ? drive.positive : drive.negative) +
                                        lens_speed(limit, speed)));
}

void zoom_speed(const ndi_ptz_request& r)
{
    claim_axis(r, kZoomAxis);
    lens_drive(r, {"zoom_speed", &visca::cam_zoom_stop, kZoomTele, kZoomWide, zoom_drive},
               r.cam.PTZ_ZoomSpeed);
}

void pan_tilt_speed(const ndi_ptz_request& r)
{
    claim_axis(r, kPanTiltAxis);
    const auto pan_value = ndi_ptz_drive_speed_value(r.attribute("pan_speed"));
    const auto tilt_value = ndi_ptz_drive_speed_value(r.attribute("tilt_speed"));
    // A speed that is no number stops the head rather than driving it on the other axis.
    if (!pan_value || !tilt_value || (*pan_value == 0.0 && *tilt_value == 0.0)) {
        fill(r, &visca::cam_pt_stop_command);
        return;
    }
    const double pan = *pan_value;
    const double tilt = *tilt_value;
    visca_command& command = slot(r, &visca::cam_pt_dir_move_command);
    command.cmd[4] = ndi_ptz_drive_speed(r.cam.PTZ_PanSpeed, pan, kPtzMaxPanSpeed);
    command.cmd[5] = ndi_ptz_drive_speed(r.cam.PTZ_TiltSpeed, tilt, kPtzMaxTiltSpeed);
    command.cmd[6] = ndi_ptz_drive_direction(pan);
    command.cmd[7] = ndi_ptz_drive_direction(tilt);
    command.cmd_fill = true;
}

void pan_tilt_home_reset(const ndi_ptz_request& r)
{
    if (!r.has("home") && !r.has("reset")) {
        return;
    }
    claim_axis(r, kPanTiltAxis);
    if (r.has("home")) {
        fill(r, &visca::cam_pt_home_command);
    }
    if (r.has("reset")) {
        fill(r, &visca::cam_pt_reset_command);
    }
}

void pan_tilt(const ndi_ptz_request& r)
{
    claim_axis(r, kPanTiltAxis);
    visca_command& command = slot(r, &visca::cam_pt_ab_position_command);
    command.cmd[4] = ndi_ptz_drive_speed(r.cam.PTZ_PanSpeed, 1.0, kPtzMaxPanSpeed);
    command.cmd[5] = ndi_ptz_drive_speed(r.cam.PTZ_TiltSpeed, 1.0, kPtzMaxTiltSpeed);
    put_nibbles(command.cmd + 6, ndi_ptz_pan_position(ndi_ptz_real(r.attribute("pan"))));
    put_nibbles(command.cmd + 10, ndi_ptz_tilt_position(ndi_ptz_real(r.attribute("tilt"))));
    command.cmd_fill = true;
}

void preset(const ndi_ptz_request& r, uint8_t action)
{
    const int64_t index = ndi_ptz_integer(r.attribute("index"));
    if (index < 0 || index > kPtzMaxPreset) {
        return;
    }
    visca_command& command = slot(r, &visca::cam_preset_call_rst_recall);
    command.cmd[4] = action;
    command.cmd[5] = static_cast<uint8_t>(index);
    command.cmd_fill = true;
}

void store_preset(const ndi_ptz_request& r)
{
    preset(r, 0x01);
}
void reset_preset(const ndi_ptz_request& r)
{
    preset(r, 0x00);
}
void recall_preset(const ndi_ptz_request& r)
{
    preset(r, 0x02);
}

void nothing(const ndi_ptz_request& /*r*/) {}

void focus(const ndi_ptz_request& r)
{
    Camcontrol& cam = r.cam;
    if (!word_is(r.attribute("mode"), "manual")) {
        fill_byte4(r, &visca::cam_focus_mode, 0x02);
        cam.camcontrol_focus_auto = true;
        cam.camcontrol_man_focus_dist = 0;
        cam.distance_cal_last = 0;
        return;
    }
    fill_byte4(r, &visca::cam_focus_mode, 0x03);
    const char* distance = r.attribute("distance");
    // Missing or not-a-number is the middle of the range (ndi_ptz_focus_step).
    const int step =
        ndi_ptz_focus_step(distance == nullptr ? std::nan("") : std::strtod(distance, nullptr));
    if (const auto nudge = ndi_ptz_focus_nudge(cam.distance_cal_last, step)) {
        claim_axis(r, kFocusAxis);
        fill_byte4(r, &visca::cam_focus_near_far_speed, *nudge);
        fill(r, &visca::cam_focus_stop);
    }
    cam.distance_cal_last = step;
    cam.camcontrol_focus_auto = false;
}

void focus_move(const ndi_ptz_request& r)
{
    claim_axis(r, kFocusAxis);
    const char* direction = r.attribute("direction");
    if (word_is(direction, "stop")) {
        fill(r, &visca::cam_focus_stop);
        return;
    }
    if (word_is(direction, "one_push")) {
        visca_command& command = slot(r, &visca::cam_focus_near_far_dir);
        command.cmd[3] = kFocusOnePush;
        command.cmd[4] = 0x01;
        command.cmd_fill = true;
        return;
    }
    // The camera takes drive speeds 0..7 only.
    const auto speed = static_cast<uint8_t>(ndi_ptz_clamp(
        static_cast<double>(ndi_ptz_integer(r.attribute("speed"))), 0.0, kPtzMaxLensSpeed));
    focus_drive(
        r, static_cast<uint8_t>((word_is(direction, "near") ? kFocusNear : kFocusFar) + speed));
    fill(r, &visca::cam_focus_stop);
}

// Continuous focus drive as NDI controllers send it: -1 out (far) .. +1 in (near), 0 stop. The
// drive runs until the next focus element; a speed that is no number stops it.
void focus_speed(const ndi_ptz_request& r)
{
    claim_axis(r, kFocusAxis);
    lens_drive(r, {"focus_speed", &visca::cam_focus_stop, kFocusNear, kFocusFar, focus_drive},
               kPtzMaxLensSpeed);
}

// A normalised gain (0..1) as a register value 0..255.
uint16_t gain_value(const char* text)
{
    return static_cast<uint16_t>(ndi_ptz_clamp(ndi_ptz_real(text), 0.0, 1.0) * 255);
}

void white_balance(const ndi_ptz_request& r)
{
    static const WordValue kModes[] = {{"auto", 0x00},     {"indoor", 0x01},   {"outdoor", 0x02},
                                       {"one_push", 0x03}, {"one_shot", 0x03}, {"atw", 0x04},
                                       {"manual", 0x05},   {"manual2", 0x06}};
    const uint8_t mode = word_value(r.attribute("mode"), kModes, 0x00);
    fill_byte4(r, &visca::cam_wb_mode, mode);
    if (mode == 0x03) {
        // The camera needs a pause between the mode and its trigger: the engine keeps it on the
        // line (a pause here would hold the capture buffer).
        fill_byte4(r, &visca::cam_wb_one_push_trig, kOnePushTrigger);
    } else if (mode == 0x05) {
        if (const char* red = r.attribute("red")) {
            fill_nibbles(r, &visca::cam_wb_rg_dir, gain_value(red));
        }
        if (const char* blue = r.attribute("blue")) {
            fill_nibbles(r, &visca::cam_wb_bg_dir, gain_value(blue));
        }
    }
}

void white_balance_gain(const ndi_ptz_request& r)
{
    fill_register(r, "red", &visca::cam_wb_rg_dir);
    fill_register(r, "blue", &visca::cam_wb_bg_dir);
}

constexpr uint8_t kExposureAuto = 0x00;
constexpr uint8_t kExposureManual = 0x03;

void vantor_exposure(const ndi_ptz_request& r)
{
    static const WordValue kModes[] = {{"full-auto", kExposureAuto},
                                       {"manual", kExposureManual},
                                       {"shutter-pri", 0x0A},
                                       {"iris-pri", 0x0B},
                                       {"bright", 0x0D},
                                       {"gain-pri", 0x0E}};
    const char* text = r.attribute("mode");
    const uint8_t mode = word_value(text, kModes, kExposureAuto);
    if (text != nullptr) {
        fill_byte4(r, &visca::cam_exposure_mode, mode);
    }
    // Which values each mode leaves to the operator.
    struct ModeValues {
        uint8_t mode;
        bool shutter, iris, bright, gain;
    };
    static const ModeValues kValues[] = {{kExposureManual, true, true, true, true},
                                         {0x0A, true, false, false, false},
                                         {0x0B, false, true, false, false},
                                         {0x0D, false, false, true, false},
                                         {0x0E, false, false, false, true}};
    for (const ModeValues& row : kValues) {
        if (row.mode != mode) {
            continue;
        }
        if (row.shutter) {
            fill_register(r, "shutterspeed", &visca::cam_exposure_shut_dir);
        }
        if (row.iris) {
            fill_register(r, "iris", &visca::cam_exposure_iris_dir);
        }
        if (row.bright) {
            fill_register(r, "bright", &visca::cam_exposure_bright_dir);
        }
        if (row.gain) {
            fill_register(r, "gain", &visca::cam_exposure_gain_dir);
        }
    }
}

void vantor_exposure_manual(const ndi_ptz_request& r)
{
    fill_register(r, "shutterspeed", &visca::cam_exposure_shut_dir);
    fill_register(r, "iris", &visca::cam_exposure_iris_dir);
    fill_register(r, "bright", &visca::cam_exposure_bright_dir);
    fill_register(r, "gain", &visca::cam_exposure_gain_dir);
}

void exposure(const ndi_ptz_request& r)
{
    if (!word_is(r.attribute("mode"), "manual")) {
        fill_byte4(r, &visca::cam_exposure_mode, kExposureAuto);
        return;
    }
    constexpr uint16_t kMiddleIris = 0x0008;
    constexpr double kIrisScale = 17;
    fill_byte4(r, &visca::cam_exposure_mode, kExposureManual);
    const char* value = r.attribute("value");
    fill_nibbles(r, &visca::cam_exposure_iris_dir,
                 value == nullptr ? kMiddleIris
                                  : static_cast<uint16_t>(
                                        ndi_ptz_clamp(ndi_ptz_real(value), 0.0, 1.0) * kIrisScale));
}

// Status values of misc commands, as bits of the set an item accepts.
enum : uint8_t { kOn = 1U << 0U, kOff = 1U << 1U, kEnter = 1U << 2U, kToggle = 1U << 3U };

void misc(const ndi_ptz_request& r)
{
    struct Item {
        const char* cmdtype;  // nullptr: missing or any other value
        uint8_t category;
        uint8_t item;
        uint8_t accepts;  // statuses the camera takes for the item
    };
    static const Item kItems[] = {
        {"powermode", 0x04, 0x00, kOn | kOff | kEnter},
        {"backlight", 0x04, 0x33, kOn | kOff | kEnter},
        {"freeze", 0x04, 0x62, kOn | kOff | kEnter},
        {"flip", 0x04, 0x66, kOn | kOff | kEnter},
        {"menu_display", 0x06, 0x06, kOn | kOff | kToggle},
        {nullptr, 0x04, 0x75, kOn | kOff | kEnter | kToggle},  // mute
    };
    struct Status {
        const char* status;  // nullptr: missing or any other value
        uint8_t value;
        uint8_t bit;
    };
    static const Status kStatuses[] = {{"off", 0x03, kOff},
                                       {"enter", 0x05, kEnter},
                                       {"toggle", 0x10, kToggle},
                                       {nullptr, 0x02, kOn}};

    const char* cmdtype = r.attribute("cmdtype");
    const Item* item = &kItems[0];
    while (item->cmdtype != nullptr && !word_is(cmdtype, item->cmdtype)) {
        ++item;
    }
    const char* text = r.attribute("status");
    const Status* status = &kStatuses[0];
    while (status->status != nullptr && !word_is(text, status->status)) {
        ++status;
    }
    // A status the item cannot take would be refused as a syntax error: nothing is sent.
    if ((item->accepts & status->bit) == 0) {
        return;
    }
    visca_command& command = slot(r, &visca::cam_misc);
    command.cmd[2] = item->category;
    command.cmd[3] = item->item;
    command.cmd[4] = status->value;
    command.cmd_fill = true;
}

void inq_command(const ndi_ptz_request& r)
{
    r.cam.res_ndi_inq_blk();
}

}  // namespace

// Numeric attributes: a real or integer attribute whose text is no such number makes the element
// ignored. Drive speeds are not listed: a drive whose speed is no number stops.
const ndi_ptz_element kNdiPtzElements[] = {
    {"ntk_ptz_zoom", zoom, {"zoom"}, {}},
    {"ntk_ptz_zoom_speed", zoom_speed, {}, {}},
    {"ntk_ptz_pan_tilt_speed", pan_tilt_speed, {}, {}},
    {"ntk_ptz_pan_tilt_home_reset", pan_tilt_home_reset, {}, {}},
    {"ntk_ptz_pan_tilt", pan_tilt, {"pan", "tilt"}, {}},
    {"ntk_ptz_store_preset", store_preset, {}, {"index"}},
    {"ntk_ptz_reset_preset", reset_preset, {}, {"index"}},
    {"ntk_ptz_recall_preset", recall_preset, {}, {"index"}},
    {"ntk_ptz_flip", nothing, {}, {}},
    {"ntk_ptz_focus", focus, {"distance"}, {}},
    {"ntk_ptz_focus_move", focus_move, {}, {"speed"}},
    {"ntk_ptz_focus_speed", focus_speed, {}, {}},
    {"ntk_ptz_white_balance", white_balance, {"red", "blue"}, {}},
    {"ntk_ptz_white_balance_gain", white_balance_gain, {}, {"red", "blue"}},
    {"ntk_ptz_vantor_exposure", vantor_exposure, {}, {"iris", "shutterspeed", "bright", "gain"}},
    {"ntk_ptz_vantor_exposure_manual",
     vantor_exposure_manual,
     {},
     {"iris", "shutterspeed", "bright", "gain"}},
    {"ntk_ptz_exposure", exposure, {"value"}, {}},
    {"ntk_ptz_misc", misc, {}, {}},
    {"ntk_ptz_inq_command", inq_command, {}, {}},
};
const std::size_t kNdiPtzElementCount = sizeof(kNdiPtzElements) / sizeof(kNdiPtzElements[0]);

const ndi_ptz_element* ndi_ptz_find_element(const char* name)
{
    for (const ndi_ptz_element& row : kNdiPtzElements) {
        if (::strcasecmp(name, row.name) == 0) {
            return &row;
        }
    }
    return nullptr;
}

const char* ndi_ptz_request::attribute(const char* name) const
{
    const rapidxml::xml_attribute<char>* found = element.first_attribute(name);
    return found == nullptr ? nullptr : found->value();
}
