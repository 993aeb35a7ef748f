#include "ptz_console.h"

#include <poll.h>
#include <unistd.h>

namespace ndi_monitor {

namespace {

constexpr char kEscape = 0x1B;
const char* const kPanTiltStop = R"(<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0"/>)";
const char* const kZoomStop = R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)";

std::string pan_tilt(const char* pan, const char* tilt)
{
    return std::string(R"(<ntk_ptz_pan_tilt_speed pan_speed=")") + pan + R"(" tilt_speed=")" +
           tilt + R"("/>)";
}

std::string preset(const char* element, char digit)
{
    return std::string("<") + element + R"( index=")" + digit + R"("/>)";
}

bool is_digit(char byte)
{
    return byte >= '0' && byte <= '9';
}

}  // namespace

std::vector<std::string> PtzKeys::stop_texts()
{
    return {kPanTiltStop, kZoomStop};
}

std::vector<std::string> PtzKeys::feed(char byte)
{
    switch (m_state) {
    case State::escape:
        m_state = byte == '[' ? State::bracket : State::idle;
        return {};
    case State::bracket:
        m_state = State::idle;
        switch (byte) {
        case 'A':
            return {pan_tilt("0", "0.5")};
        case 'B':
            return {pan_tilt("0", "-0.5")};
        case 'C':  // right: NDI pan speeds are negative to the right, positive to the left
            return {pan_tilt("-0.5", "0")};
        case 'D':
            return {pan_tilt("0.5", "0")};
        default:
            return {};
        }
    case State::store:
        m_state = State::idle;
        if (is_digit(byte)) {
            return {preset("ntk_ptz_store_preset", byte)};
        }
        return {};
    case State::idle:
        break;
    }
    if (is_digit(byte)) {
        return {preset("ntk_ptz_recall_preset", byte)};
    }
    switch (byte) {
    case kEscape:
        m_state = State::escape;
        return {};
    case 's':
        m_state = State::store;
        return {};
    case '+':
        return {R"(<ntk_ptz_zoom_speed zoom_speed="0.5"/>)"};
    case '-':
        return {R"(<ntk_ptz_zoom_speed zoom_speed="-0.5"/>)"};
    case ' ':
        return stop_texts();
    case 'i':
        return {"<ntk_ptz_inq_command/>"};
    case 'q':
        // The camera must not keep moving after the controller is gone.
        m_quit = true;
        return stop_texts();
    default:
        return {};
    }
}

PtzConsole::PtzConsole()
{
    if (::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &m_saved) == 0) {
        termios keys = m_saved;
        keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        m_restore = ::tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
    }
}

PtzConsole::~PtzConsole()
{
    if (m_restore) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
}

std::vector<std::string> PtzConsole::poll()
{
    std::vector<std::string> texts;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (!m_input_ended && ::poll(&input, 1, 0) == 1) {
        char byte = 0;
        if (::read(STDIN_FILENO, &byte, 1) != 1) {
            m_input_ended = true;  // end of input, or nothing readable: stop like q
            for (std::string& text : PtzKeys::stop_texts()) {
                texts.push_back(std::move(text));
            }
            break;
        }
        for (std::string& text : m_keys.feed(byte)) {
            texts.push_back(std::move(text));
        }
    }
    return texts;
}

const char* PtzConsole::help_text()
{
    return "PTZ keys: arrows pan/tilt, + - zoom, space stop, 0-9 recall preset, s+digit store, "
           "i status, q quit";
}

}  // namespace ndi_monitor
