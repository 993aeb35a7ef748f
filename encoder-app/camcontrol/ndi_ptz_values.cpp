#include "camcontrol/ndi_ptz_values.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

const uint16_t ntk_ptz_zoom_lut[kPtzZoomSteps] = {
    0,     5793,  8291,  9768,  10781, 11539, 12141, 12641, 13069, 13446,
    13783, 14089, 14368, 14624, 14858, 15069, 15260, 15430, 15580, 15712,
    15828, 15929, 16016, 16092, 16158, 16215, 16266, 16310, 16348, 16384};

namespace {

constexpr int kPanPositionSteps = 9;       // 9 x 256 = 2304 <= 2448
constexpr int kTiltUpPositionSteps = 5;    // 5 x 256 = 1280 <= 1296
constexpr int kTiltDownPositionSteps = 1;  // 1 x 256 = 256 <= 432
constexpr int kFocusSteps = 7;
constexpr const char* kSpaces = " \t\r\n";
constexpr double kFocusMiddle = 0.5;
constexpr uint8_t kFocusFar = 0x20;
constexpr uint8_t kFocusNear = 0x30;

// A normalised position -1..+1, not-a-number being the centre.
double normalised_position(double value)
{
    return std::isnan(value) ? 0.0 : ndi_ptz_clamp(value, -1.0, 1.0);
}

uint16_t position_field(double scaled)
{
    const auto step = static_cast<int>(std::lround(scaled));
    return static_cast<uint16_t>((static_cast<unsigned>(step) & 0xFFU) << 8U);
}

}  // namespace

bool ndi_ptz_is_number(const char* text)
{
    if (text == nullptr) {
        return true;
    }
    char* end = nullptr;
    std::strtod(text, &end);
    const char* rest = end == text ? text : end;
    return std::strspn(rest, kSpaces) == std::strlen(rest);
}

bool ndi_ptz_is_integer(const char* text)
{
    if (text == nullptr) {
        return true;
    }
    const char* p = text + std::strspn(text, kSpaces);
    if (*p == '\0') {
        return true;
    }
    if (*p == '+' || *p == '-') {
        ++p;
    }
    const std::size_t digits = std::strspn(p, "0123456789");
    if (digits == 0) {
        return false;
    }
    p += digits;
    return std::strspn(p, kSpaces) == std::strlen(p);
}

std::optional<double> ndi_ptz_drive_speed_value(const char* text)
{
    if (text == nullptr) {
        return 0.0;
    }
    const double value = std::strtod(text, nullptr);
    if (!ndi_ptz_is_number(text) || std::isnan(value)) {
        return std::nullopt;
    }
    return value;
}

double ndi_ptz_real(const char* text)
{
    if (text == nullptr) {
        return 0.0;
    }
    const double value = std::strtod(text, nullptr);
    return std::isnan(value) ? 0.0 : value;
}

int64_t ndi_ptz_integer(const char* text)
{
    if (text == nullptr) {
        return 0;
    }
    // strtoll is 64 bits on every target and saturates beyond that.
    return static_cast<int64_t>(std::strtoll(text, nullptr, 10));
}

double ndi_ptz_clamp(double value, double low, double high)
{
    if (std::isnan(value)) {
        return low;
    }
    return std::min(std::max(value, low), high);
}

uint16_t ndi_ptz_zoom_position(double zoom)
{
    if (!(zoom > 0.0)) {
        return ntk_ptz_zoom_lut[0];
    }
    if (zoom >= 1.0) {
        return ntk_ptz_zoom_lut[kPtzZoomSteps - 1];
    }
    const double magnification = zoom * (kPtzZoomSteps - 1);  // 0 .. 29, as an index
    const int low = std::min(static_cast<int>(magnification), kPtzZoomSteps - 2);
    const double fraction = magnification - low;
    const double position =
        ntk_ptz_zoom_lut[low] + fraction * (ntk_ptz_zoom_lut[low + 1] - ntk_ptz_zoom_lut[low]);
    return static_cast<uint16_t>(std::lround(position));
}

uint16_t ndi_ptz_pan_position(double pan)
{
    return position_field(normalised_position(pan) * kPanPositionSteps);
}

uint16_t ndi_ptz_tilt_position(double tilt)
{
    const double t = normalised_position(tilt);
    return position_field(t * (t >= 0.0 ? kTiltUpPositionSteps : kTiltDownPositionSteps));
}

uint8_t ndi_ptz_drive_speed(int limit, double value, int max_speed)
{
    const double magnitude = ndi_ptz_clamp(std::fabs(value), 0.0, 1.0);
    const double speed = std::round(ndi_ptz_clamp(limit * magnitude, 1.0, max_speed));
    return static_cast<uint8_t>(speed);
}

uint8_t ndi_ptz_drive_direction(double value)
{
    if (value > 0.0) {
        return 0x01;
    }
    return value < 0.0 ? 0x02 : 0x03;
}

int ndi_ptz_focus_step(double distance)
{
    const double d = std::isnan(distance) ? kFocusMiddle : distance;
    if (d >= 1.0) {
        return kFocusSteps;
    }
    if (d <= 0.0) {
        return -kFocusSteps;
    }
    return static_cast<int>(d * 2 * kFocusSteps) - kFocusSteps;
}

std::optional<uint8_t> ndi_ptz_focus_nudge(int from, int to)
{
    if (from == to) {
        return std::nullopt;
    }
    const int size = std::min(std::abs(to - from), kPtzMaxLensSpeed);
    return static_cast<uint8_t>((to > from ? kFocusNear : kFocusFar) + size);
}
