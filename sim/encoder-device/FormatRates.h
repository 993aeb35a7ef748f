#pragma once

#include <string>

// The encoder is told its mode, not the video format: its pictures come at the rate of the video
// it is fed, which follows the camera's format, the "VideoFormat" setting of the encoder settings
// file. These give that rate.

// The board's encoder settings file for the device socket at `socket_path`: when the socket is the
// board's "dev/vantor-speedhq", the "etc/vantor-enc1-settings.json" of the same board; otherwise
// empty (no settings).
std::string settings_path_for_socket(const std::string& socket_path);

// The value of "VideoFormat" in the flat JSON settings file at `path` (the characters between the
// quotes after "VideoFormat":); empty when the file, the key or its value is missing.
std::string read_video_format(const std::string& path);

// Pictures per second (fields, in 1080i) of the format named `video_format` when the encoder runs
// it in `mode`; 0 when the text names no format of that mode.
double format_picture_rate(const std::string& video_format, int mode);
