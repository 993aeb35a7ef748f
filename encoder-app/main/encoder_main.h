#pragma once

#include <atomic>

#include "NdiTransmitter/NdiTransmitter.h"
#include "camcontrol/Camcontrol.h"
#include "main/av_settings.h"

// The encoder application's program: its two long-lived objects, constructed in this order before
// main runs (and so destroyed in the reverse order at exit), and the main loop's state.
extern NdiTransmitter m_NdiTransmitter;
extern Camcontrol m_Camcontrol;
extern std::atomic<bool> main_exit_loop;  // set by SIGINT; the main loop polls it
extern int encode_started;                // 1 while the loop has the encoder running
extern int nimbo_vid_format;              // working format code of this loop pass
extern int nimbo_vid_format_last;         // working format code of the previous pass
extern int display_vid_format;            // format code the dashboard shows
extern av_settings m_av_settings;

// SIGINT: asks the main loop, and any camera wait in progress, to end. Only lock-free atomic
// stores, so it is safe in a signal handler.
void sigint_handler(int signal_number);

// Fills m_av_settings and display_vid_format from the settings files; false when the format was
// not there to read (see the two-argument form).
bool read_av_settings();

// Start-up, the 500 ms format-watch loop and the ordered shutdown. Returns 0 on every path.
int encoder_app_main();
