#pragma once

#include <cstdint>
#include <optional>

// Conversions from the values of NDI PTZ metadata attributes to VISCA parameter bytes. Every
// result is one the camera module accepts, whatever the text: not-a-number reads as 0, infinities
// and out-of-range values are held at the ends of their ranges.

// The camera's fastest pan and tilt drive speeds (VISCA speed bytes 01..18 and 01..17).
inline constexpr int kPtzMaxPanSpeed = 0x18;
inline constexpr int kPtzMaxTiltSpeed = 0x17;
// The fastest zoom and focus drive speed p of 2p/3p.
inline constexpr int kPtzMaxLensSpeed = 7;
// Highest preset number.
inline constexpr int64_t kPtzMaxPreset = 127;
// Largest value of a two-nibble register setting (white-balance gains, iris, shutter, bright,
// gain: 00 00 0p 0q).
inline constexpr int64_t kPtzMaxRegisterValue = 0xFF;
// Number of entries of ndi_ptz_zoom_lut (1x .. 30x).
inline constexpr int kPtzZoomSteps = 30;

// Camera zoom positions by magnification step, entry k for (k + 1)x: 0x0000 wide .. 0x4000 tele.
extern const uint16_t ntk_ptz_zoom_lut[kPtzZoomSteps];

// True when `text` is missing, empty or one number (as strtod reads it) with nothing else but
// spaces.
bool ndi_ptz_is_number(const char* text);
// True when `text` is missing, empty or one decimal integer (an optional sign and digits) with
// nothing else but spaces: "0x10", "1e2", "inf", "nan", "12x" are not.
bool ndi_ptz_is_integer(const char* text);
// The speed of a drive (-1..+1 and beyond): 0 when missing or empty, nothing when the text is no
// number or reads as NaN (the drive then stops rather than running on).
std::optional<double> ndi_ptz_drive_speed_value(const char* text);
// A real attribute value (decimal strtod); a missing text reads as 0, not-a-number as 0.
double ndi_ptz_real(const char* text);
// An integer attribute value (base 10), saturated to 64 bits so that a huge number never wraps
// into range on a 32-bit long; a missing text reads as 0.
int64_t ndi_ptz_integer(const char* text);
// The value held to [low, high]; not-a-number gives low.
double ndi_ptz_clamp(double value, double low, double high);

// Zoom position for a normalised zoom (0 wide .. 1 tele): the magnification 1 + 29 x zoom is
// interpolated linearly between the two table entries around it; zoom <= 0 (or not a number)
// gives 0, zoom >= 1 the tele end 0x4000.
uint16_t ndi_ptz_zoom_position(double zoom);

// Absolute pan/tilt position fields: the two high nibbles carry a signed position step (the low
// two are 0), scaled so that -1..+1 spans the camera's range without passing it: pan -9..+9
// steps of 256 (the head turns -2448..+2448), tilt -1..+5 (-432..+1296).
uint16_t ndi_ptz_pan_position(double pan);
uint16_t ndi_ptz_tilt_position(double tilt);

// Drive speed byte: the nearest integer to limit x min(|value|, 1) (halves away from zero), held
// to 1..max_speed (0 is no speed to the camera, a limit from the settings file may pass max).
uint8_t ndi_ptz_drive_speed(int limit, double value, int max_speed);
// Direction byte of a drive: > 0 -> 01, < 0 -> 02, 0 -> 03 (stop).
uint8_t ndi_ptz_drive_direction(double value);

// Manual focus step -7..+7 of a normalised distance as NDI controllers send it (0 infinity, far
// .. 1 as close as possible, near; missing or not a number is the middle, 0.5).
int ndi_ptz_focus_step(double distance);
// The focus drive that nudges the lens from step `from` to step `to`: 3p (near) for a larger
// step, 2p (far) for a smaller one, p = the size of the move held to 1..7; nothing for no move,
// so the same distance sent again leaves the lens where it is.
std::optional<uint8_t> ndi_ptz_focus_nudge(int from, int to);
