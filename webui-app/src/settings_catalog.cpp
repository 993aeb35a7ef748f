#include "settings_catalog.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "NdiTransmitter/ndi_sender_config.h"
#include "camcontrol/WebUILamda.h"
#include "camcontrol/webui_bindings.h"
#include "json_text.h"
#include "main/av_settings.h"

namespace {

// A read codec's answer for a text it does not know: it hands back the original value.
constexpr uint32_t kUnknownText = 0xFFFFFFFFU;

struct group_file {
    webui_group group;
    const char* heading;
    const char* file;
};

constexpr group_file kCameraFiles[] = {
    {webui_group::Exposure, "Exposure", "/etc/vantor-exp-setup.json"},
    {webui_group::WhiteBalance, "White balance", "/etc/vantor-wb-setup.json"},
    {webui_group::Picture, "Picture", "/etc/vantor-pic-setup.json"},
    {webui_group::Detail, "Detail", "/etc/vantor-det-setup.json"},
    {webui_group::Gamma, "Gamma", "/etc/vantor-gamma-setup.json"},
};

constexpr const char* kPtzFile = "/etc/vantor-ptz-settings.json";

// The encoder, NDI, audio and PTZ settings: the keyword texts their readers compare against.
struct plain_control {
    const char* page;
    const char* group;
    const char* file;
    const char* key;
    control_kind kind;
    std::initializer_list<const char*> choices;
    long min;
    long max;
};

const char* const kAudio = "/etc/vantor-audio-settings.json";

// clang-format off
const plain_control kPlainControls[] = {
    {"video", "Video", kEncoderSettingsPath, "VideoSampleRate", control_kind::Choice, {"422", "420"}, 0, 0},
    {"video", "Bandwidth", kEncoderSettingsPath, "BandwidthMode", control_kind::Choice, {"Auto", "Manual"}, 0, 0},
    {"video", "Bandwidth", kEncoderSettingsPath, "BandwidthSelect", control_kind::Number, {}, 1, 250},
    {"video", "NDI", kEncoderSettingsPath, "StreamName", control_kind::Text, {}, 0, 63},
    {"video", "NDI", kEncoderSettingsPath, "NDIGroup", control_kind::Choice, {"NDIGroupDis", "NDIGroupEn"}, 0, 0},
    {"video", "NDI", kEncoderSettingsPath, "NDIGroupName", control_kind::Text, {}, 0, 63},
    {"video", "NDI", kEncoderSettingsPath, "TallyMode", control_kind::Choice, {"TallyOn", "TallyOff"}, 0, 0},
    {"video", "NDI", kEncoderSettingsPath, "NDIAudio", control_kind::Choice, {"NDIAudioComms", "NDIAudioAnalog"}, 0, 0},
    {"video", "NDI transport", kNdiTxSettingsPath, "txpm", control_kind::Choice, {"Multi-TCP", "Multicast", "UDP"}, 0, 0},
    {"video", "NDI transport", kNdiTxSettingsPath, "txnetprefix", control_kind::Text, {}, 0, 15},
    {"video", "NDI transport", kNdiTxSettingsPath, "txnetmask", control_kind::Text, {}, 0, 15},
    {"video", "NDI transport", kNdiTxSettingsPath, "txmcttl", control_kind::Number, {}, 1, 255},
    {"video", "NDI discovery", kNdiFindSettingsPath, "NDIDisServ", control_kind::Choice, {"NDIDisServDis", "NDIDisServEn"}, 0, 0},
    {"video", "NDI discovery", kNdiFindSettingsPath, "NDIDisServIP", control_kind::Text, {}, 0, 15},
    {"audio", "Analogue audio", kAudio, "AnalogAudioInGain", control_kind::Number, {}, 0, 100},
    {"audio", "Analogue audio", kAudio, "AnalogAudioOutGain", control_kind::Number, {}, 0, 100},
    {"ptz", "Speed limits", kPtzFile, "PanSpeed", control_kind::Number, {}, 1, 24},
    {"ptz", "Speed limits", kPtzFile, "TiltSpeed", control_kind::Number, {}, 1, 23},
    {"ptz", "Speed limits", kPtzFile, "ZoomSpeed", control_kind::Number, {}, 0, 7},
};
// clang-format on

// True when `text` is the canonical decimal form of a number in [min, max].
bool decimal_in(const std::string& text, long min, long max, long& number)
{
    if (text.empty() || text.size() > 11) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    number = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0' && std::to_string(number) == text &&
           number >= min && number <= max;
}

// True when the binding's codecs take `text` and give it back unchanged: the value read fits the
// command's field and writes back as the same text.
bool codec_round_trip(const page_control& control, const std::string& text)
{
    const uint32_t value = control.read(text.c_str(), kUnknownText);
    return value != kUnknownText && webui_value_fits(value, control.width, control.byte_mode) &&
           control.write(value) == text;
}

bool combined_round_trip(int part, long number)
{
    if (number < 0 || number > 0xFFFF) {
        return false;
    }
    const auto n = static_cast<uint32_t>(number);
    uint32_t first = 0;
    uint32_t second = 0;
    switch (part) {
    case 1:  // TWODNR
        WebUISplitTwoThreeDnr(WebUICombineTwoThreeDnr(n, 0), first, second);
        return webui_value_fits(WebUICombineTwoThreeDnr(n, 0), 2, false) && first == n;
    case 2:  // ThreeDNR
        WebUISplitTwoThreeDnr(WebUICombineTwoThreeDnr(0, n), first, second);
        return webui_value_fits(WebUICombineTwoThreeDnr(0, n), 2, false) && second == n;
    case 3:  // Pattern
        WebUISplitPattern(WebUICombinePattern(n, 0), first, second);
        return webui_value_fits(WebUICombinePattern(n, 0), 3, false) && first == n;
    default:  // PatternFine
        WebUISplitPattern(WebUICombinePattern(0, n), first, second);
        return webui_value_fits(WebUICombinePattern(0, n), 3, false) && second == n;
    }
}

// The largest n >= 0 (or smallest n <= 0 with `step` -1) for which `ok` holds, searched by
// doubling then halving: the accepted numbers of every codec are one run around 0.
template <typename Ok> long run_end(Ok ok, long step)
{
    long good = 0;
    long bad = step;
    while (ok(bad) && (bad > -(1L << 30)) && (bad < (1L << 30))) {
        good = bad;
        bad *= 2;
    }
    while (bad - good > 1 || good - bad > 1) {
        const long middle = good + (bad - good) / 2;
        (ok(middle) ? good : bad) = middle;
    }
    return good;
}

void describe_binding(page_control& control)
{
    if (control.combined_part != 0) {
        control.kind = control_kind::Number;
        const int part = control.combined_part;
        control.max = run_end([part](long n) { return combined_round_trip(part, n); }, 1);
        return;
    }
    if (codec_round_trip(control, "0")) {
        control.kind = control_kind::Number;
        const auto ok = [&control](long n) { return codec_round_trip(control, std::to_string(n)); };
        control.min = run_end(ok, -1);
        control.max = run_end(ok, 1);
        return;
    }
    control.kind = control_kind::Choice;
    const uint32_t last = control.width * (control.byte_mode ? 8 : 4) >= 8 ? 255U : 15U;
    for (uint32_t value = 0; value <= last; ++value) {
        const std::string text = control.write(value);
        if (text != kWebUINoText && codec_round_trip(control, text)) {
            control.choices.push_back(text);
        }
    }
}

int combined_part_of(std::string_view key)
{
    if (key == "TWODNR") {
        return 1;
    }
    if (key == "ThreeDNR") {
        return 2;
    }
    if (key == "Pattern") {
        return 3;
    }
    return key == "PatternFine" ? 4 : 0;
}

page_control make_control(const char* page, const char* group, const std::string& file,
                          const char* key, control_kind kind)
{
    page_control control;
    control.page = page;
    control.group = group;
    control.file = file;
    control.key = key;
    control.kind = kind;
    return control;
}

std::vector<page_control> build_controls()
{
    std::vector<page_control> controls;
    page_control format =
        make_control("video", "Video", kEncoderSettingsPath, "VideoFormat", control_kind::Choice);
    for (std::size_t i = 0; video_format_text(i) != nullptr; ++i) {
        format.choices.emplace_back(video_format_text(i));
    }
    controls.push_back(format);
    for (const plain_control& plain : kPlainControls) {
        page_control control =
            make_control(plain.page, plain.group, plain.file, plain.key, plain.kind);
        for (const char* choice : plain.choices) {
            control.choices.emplace_back(choice);
        }
        control.min = plain.min;
        control.max = plain.max;
        control.max_length =
            plain.kind == control_kind::Text ? static_cast<std::size_t>(plain.max) : 0;
        if (std::string_view(plain.page) != "ptz") {
            controls.push_back(control);
        }
    }
    for (const group_file& group : kCameraFiles) {
        for (const webui_binding& row : webui_bindings()) {
            const bool in_file = row.sync == webui_sync::Compare ||
                                 row.sync == webui_sync::CompareOnR8T ||
                                 row.sync == webui_sync::FileOnly;
            if (row.group != group.group || !in_file) {
                continue;
            }
            page_control control =
                make_control("camera", group.heading, group.file, row.key, control_kind::Text);
            control.read = row.read;
            control.write = row.write;
            control.width = row.width;
            control.byte_mode = row.byte_mode;
            control.combined_part =
                row.sync == webui_sync::FileOnly ? combined_part_of(row.key) : 0;
            describe_binding(control);
            controls.push_back(control);
        }
    }
    for (const plain_control& plain : kPlainControls) {
        if (std::string_view(plain.page) == "ptz") {
            page_control control =
                make_control(plain.page, plain.group, plain.file, plain.key, plain.kind);
            control.min = plain.min;
            control.max = plain.max;
            controls.push_back(control);
        }
    }
    return controls;
}

const char* kind_name(control_kind kind)
{
    switch (kind) {
    case control_kind::Choice:
        return "choice";
    case control_kind::Number:
        return "number";
    default:
        return "text";
    }
}

bool text_character_ok(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte != 0x7F && c != '"' && c != '\\';
}

}  // namespace

const std::vector<page_control>& page_controls()
{
    static const std::vector<page_control> controls = build_controls();
    return controls;
}

const page_control* find_control(const std::string& page, const std::string& file,
                                 const std::string& key)
{
    for (const page_control& control : page_controls()) {
        if (control.page == page && control.file == file && control.key == key) {
            return &control;
        }
    }
    return nullptr;
}

std::string check_control_value(const page_control& control, const std::string& value)
{
    const std::string what = control.key + ": ";
    switch (control.kind) {
    case control_kind::Choice:
        for (const std::string& choice : control.choices) {
            if (choice == value) {
                return {};
            }
        }
        return what + "\"" + value.substr(0, 32) + "\" is not one of the offered values";
    case control_kind::Number: {
        long number = 0;
        const bool in_range = decimal_in(value, control.min, control.max, number);
        const bool accepted = !in_range ? false
                              : control.combined_part != 0
                                  ? combined_round_trip(control.combined_part, number)
                              : control.read != nullptr ? codec_round_trip(control, value)
                                                        : true;
        if (accepted) {
            return {};
        }
        return what + "\"" + value.substr(0, 32) + "\" is not a whole number from " +
               std::to_string(control.min) + " to " + std::to_string(control.max);
    }
    default:
        if (value.size() > control.max_length) {
            return what + "longer than " + std::to_string(control.max_length) + " characters";
        }
        for (const char c : value) {
            if (!text_character_ok(c)) {
                return what + "quotes, backslashes and control characters are not allowed";
            }
        }
        return {};
    }
}

std::string page_controls_json()
{
    std::string out = "{\"controls\":[";
    bool first = true;
    for (const page_control& control : page_controls()) {
        out += first ? "{" : ",{";
        first = false;
        out += "\"page\":" + json_string(control.page) +
               ",\"group\":" + json_string(control.group) +
               ",\"file\":" + json_string(control.file) + ",\"key\":" + json_string(control.key) +
               R"(,"kind":")" + kind_name(control.kind) + "\"";
        if (control.kind == control_kind::Choice) {
            out += ",\"choices\":[";
            for (std::size_t i = 0; i < control.choices.size(); ++i) {
                out += (i == 0 ? "" : ",") + json_string(control.choices[i]);
            }
            out += "]";
        } else if (control.kind == control_kind::Number) {
            out += ",\"min\":" + std::to_string(control.min) +
                   ",\"max\":" + std::to_string(control.max);
        } else {
            out += ",\"maxLength\":" + std::to_string(control.max_length);
        }
        out += "}";
    }
    out += "]}";
    return out;
}
