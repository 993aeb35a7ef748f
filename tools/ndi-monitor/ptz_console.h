#pragma once

#include <termios.h>

#include <string>
#include <vector>

namespace ndi_monitor {

// Turns the keys a person types into NDI PTZ metadata: arrows pan and tilt, + and - zoom, space
// stops both, a digit recalls that preset, s and a digit store it, i asks for the camera's
// status, q stops both and quits. Other keys are ignored. Pan speeds follow the NDI convention:
// the right arrow sends a negative pan speed (moving right), the left arrow a positive one.
class PtzKeys {
public:
    // The texts that stop pan/tilt and zoom.
    static std::vector<std::string> stop_texts();
    // Feeds one byte; the metadata texts it completes (none while a sequence is incomplete).
    std::vector<std::string> feed(char byte);
    bool quit() const { return m_quit; }

private:
    enum class State { idle, escape, bracket, store };
    State m_state = State::idle;
    bool m_quit = false;
};

// The terminal side: standard input switched to single keys without echo while the object lives
// (when it is a terminal), read without blocking.
class PtzConsole {
public:
    PtzConsole();
    ~PtzConsole();
    PtzConsole(const PtzConsole&) = delete;
    PtzConsole& operator=(const PtzConsole&) = delete;

    // The metadata texts of the keys typed since the last call; the end of the input stops the
    // camera like q.
    std::vector<std::string> poll();
    bool quit() const { return m_keys.quit() || m_input_ended; }

    static const char* help_text();

private:
    PtzKeys m_keys;
    bool m_restore = false;
    bool m_input_ended = false;
    termios m_saved = {};
};

}  // namespace ndi_monitor
