#pragma once

#include <cstddef>
#include <string>

// The audio/video settings the main loop works from, read from the web UI's settings files.
struct av_settings {
    int ajingain = 0;          // analogue audio input gain: file value (0-100) x 1.2, truncated
    int ajoutgain = 0;         // analogue audio output gain: (100 - file value) x 1.28, truncated
    int videoin = 0;           // working video format code
    int videoincs = 0;         // not used
    int sr_420_en = 0;         // 1 when the sampling setting is "420"
    bool videomode4k = false;  // not used
};

inline constexpr const char* kEncoderSettingsFile = "/etc/vantor-enc1-settings.json";
inline constexpr const char* kAudioSettingsFile = "/etc/vantor-audio-settings.json";

// The two codes of a "VideoFormat" text: the working code the encoder and the camera are set to,
// and the display code the dashboard shows. They differ only for "2160p30", which is produced as
// 2160p29.97 (52) and shown as 2160p30 (53).
struct video_format_codes {
    int working;
    int display;
};

// Exact, case-sensitive match against the format table; any other text (including "NULL" for a
// missing file or key) gives 1080p59.94 (42) for both.
video_format_codes video_format_from_text(const std::string& text);

// The "VideoFormat" texts of the format table, in table order: entry `index`, or nullptr past the
// last one. The web UI offers exactly these.
const char* video_format_text(std::size_t index);

// The program chroma for a start with working code `vid_format`: 1 (4:2:0) only when the sampling
// setting asks for it and the format is a 2160-line one (codes 49-53), else 0 (4:2:2).
int encoder_420_for_format(int vid_format, int sr_420_en);

// The video part of the encoder settings, all from one version of the file: the working and the
// display code of "VideoFormat" and the sampling flag of "VideoSampleRate".
struct video_settings {
    int working = 0;
    int display = 0;
    int sr_420_en = 0;
};

bool operator==(const video_settings& a, const video_settings& b);
bool operator!=(const video_settings& a, const video_settings& b);

// Reads "VideoFormat" and "VideoSampleRate" from one read of "/etc/vantor-enc1-settings.json", so
// that the two always belong together, and the analogue gains ("/etc/vantor-audio-settings.json"),
// into `settings` and the display code.
// Missing files or keys give the defaults: code 42, 4:2:2, gains read as 0 (0 and 128).
// Returns false when the encoder settings file could not be read or has no "VideoFormat" key (a
// file the web UI is rewriting at that moment): the format read is then no reading at all.
bool read_av_settings(av_settings& settings, int& display_vid_format);

// A gain text read as a base-10 integer (leading digits count; "NULL" and other text read as 0),
// taken as is or as 100 - value (`from_hundred`), multiplied by `factor` and truncated toward zero.
// A result beyond the int range is clamped to it.
int scaled_gain(const std::string& text, double factor, bool from_hundred);
