#pragma once

#include <chrono>
#include <string>

// How long a command may take before it is ended (all of its processes): a hung tool, or a file
// that is a FIFO nobody writes, cannot hold the caller.
inline constexpr std::chrono::milliseconds kCommandTimeout{1000};

// Runs `command` with the shell (/bin/sh -c) and returns the last line it printed on standard
// output. The output is read in line reads of at most `max_line_length` characters (a longer line
// counts as several reads), the last read is kept and cut at its line break. A command that cannot
// be started, prints nothing or takes longer than kCommandTimeout gives an empty text. The
// command's exit status is not looked at.
//
// Used for the camera's own network identity ("ip addr show eth0 | ...", "ifconfig | ..."): on the
// camera these are BusyBox tools; the virtual board puts tools of the same output format first in
// PATH.
std::string command_last_line(const char* command, int max_line_length);

// As command_last_line, but the last read is kept as read (with its line break, when it had one).
// False when the command cannot be started or did not end within `timeout` (it is then killed,
// with every process of its pipeline, and `last` is empty).
bool command_last_read(const char* command, int max_line_length, std::string& last,
                       std::chrono::milliseconds timeout = kCommandTimeout);
