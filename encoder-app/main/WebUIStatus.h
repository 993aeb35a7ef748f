#pragma once

#include <string>

// The web UI's dashboard shows what the encoder does with the video input. The application tells it
// by writing one JSON object without a line end, {"dashboard_vid_input":"<text>"}, to the status
// path below (resolved through the board root).
//
// The path is either a plain file or a named pipe that the web UI created:
//   - a plain file (or a missing one) is replaced atomically: a reader sees the previous object or
//     the new one, never a mixture, and the file never holds two objects;
//   - a named pipe gets the object in one write (shorter than PIPE_BUF, so it arrives whole). The
//     open never waits: with no reader on the pipe, a reader that closed it between the open and
//     the write (EPIPE), or a pipe that is full because its reader has stopped reading, the object
//     is not delivered.
// The last object not delivered is kept (a newer one replaces it) and retry_webui_status() tries it
// again; the main loop does so on each pass, so the dashboard catches up once its reader is back.
// A failure is not reported: the dashboard is informative and the program goes on without it.

inline constexpr const char* kWebUIStatusPath = "/tmp/vantor-dashboard-pipe";

// The dashboard text for a format: the display code's resolution and rate ("2160p29.97"), or
// "NO INPUT/" for a code without text; then, when the current working format is not 0, "-420" for
// 4:2:0 encoding (`encoder_pix_format_420` = 1) or "-422" otherwise.
std::string webui_format_text(int display_vid_format, int current_vid_format,
                              int encoder_pix_format_420);

// Writes the status object holding `text`; true when it was written. When it was not, it is kept
// for retry_webui_status(), replacing any older object kept.
bool write_webui_status(const std::string& text);

// Tries the kept object once more, without waiting; true when no object is left undelivered.
bool retry_webui_status();

// "CAMERA-INITIALISING": once at start, before the NDI runtime is initialised.
void updateWebUIstart();
// "CAMERA-SETTING-FORMAT": once the camera answered, while it is being set to its format.
void updateWebUIformat();
// The format text: each time encoding is (re)started with a format. The main program passes its
// display code, its current working code and the transmitter's 4:2:0 flag.
void updateWebUIStatus(int display_vid_format, int current_vid_format, int encoder_pix_format_420);
