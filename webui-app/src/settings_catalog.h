#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The settings the web page shows and writes: one control per (file, key). The camera settings
// come from the firmware's own binding table and value codecs, so the page offers exactly the
// values the synchronisation loop accepts; the encoder, NDI, audio and PTZ settings come from the
// firmware's format table and the keyword texts its readers compare against.

enum class control_kind : uint8_t { Choice, Number, Text };

struct page_control {
    std::string page;   // "video", "audio", "camera", "ptz"
    std::string group;  // a heading on the page ("Exposure", "NDI", ...)
    std::string file;   // the system path of the settings file
    std::string key;
    control_kind kind = control_kind::Text;
    std::vector<std::string> choices;  // Choice: every text the firmware reads
    long min = 0;                      // Number: inclusive bounds
    long max = 0;
    std::size_t max_length = 0;  // Text: longest value
    // Camera bindings: the firmware's codec pair and field; nullptr elsewhere.
    uint32_t (*read)(const char*, uint32_t) = nullptr;
    std::string (*write)(uint64_t) = nullptr;
    int width = 0;
    bool byte_mode = false;
    // The two settings sent together (2D/3D noise reduction, gamma pattern): which part.
    int combined_part = 0;  // 0: none; 1..4: TWODNR, ThreeDNR, Pattern, PatternFine
};

// Every control, pages in the order video, audio, camera, ptz.
const std::vector<page_control>& page_controls();

// The control of `page` for `file` and `key`; nullptr when the page owns no such key.
const page_control* find_control(const std::string& page, const std::string& file,
                                 const std::string& key);

// Empty when `value` is one the firmware accepts for `control`; otherwise the message the page
// shows ("GainLevel: 300 is outside 0 to 255").
std::string check_control_value(const page_control& control, const std::string& value);

// The catalogue as JSON: {"controls":[{"page":..,"group":..,"file":..,"key":..,"kind":..,
// "choices":[..] | "min":..,"max":.. | "maxLength":..}, ...]}.
std::string page_controls_json();
