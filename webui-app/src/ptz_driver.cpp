#include "ptz_driver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "HelperLib/HelperLib.h"
#include "camcontrol/voip_framing.h"
#include "vantor/bind_address.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

constexpr const char* kPtzFile = "/etc/vantor-ptz-settings.json";
constexpr const char* kSavePreset = "/tmp/vantor-save-preset";
constexpr const char* kRecallPreset = "/tmp/vantor-reset-preset";

int speed_setting(const char* key, int low, int high, int fallback)
{
    const std::string text = GetJsonString(kPtzFile, key);
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value >= low && value <= high ? static_cast<int>(value) : fallback;
}

char direction_byte(int direction, bool positive_is_one)
{
    if (direction == 0) {
        return 0x03;
    }
    return (direction > 0) == positive_is_one ? 0x01 : 0x02;
}

std::string zoom_focus_message(char id, int direction, int speed)
{
    const int code = direction == 0 ? 0x00 : (direction > 0 ? 0x20 : 0x30) | (speed & 0x07);
    const auto value = static_cast<char>(code);
    return std::string{'\x81', 0x01, 0x04, id, value, '\xFF'};
}

}  // namespace

PtzDriver::PtzDriver()
{
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    m_thread = std::thread([this] { watchdog(); });
}

PtzDriver::~PtzDriver()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    if (m_socket >= 0) {
        ::close(m_socket);
    }
}

std::string PtzDriver::pan_tilt_message(const ptz_move& move, int pan_speed, int tilt_speed)
{
    // 81 01 06 01 VV WW XX YY FF: XX 01 left / 02 right / 03 stop, YY 01 up / 02 down / 03 stop.
    return std::string{'\x81',
                       0x01,
                       0x06,
                       0x01,
                       static_cast<char>(pan_speed),
                       static_cast<char>(tilt_speed),
                       direction_byte(-move.pan, true),
                       direction_byte(move.tilt, true),
                       '\xFF'};
}

bool PtzDriver::send(const std::string& message)
{
    if (m_socket < 0) {
        return false;
    }
    uint8_t datagram[VOIP_HEADER_LENGTH + VOIP_MESSAGE_MAX];
    const int length = voip_build(VOIP_VISCA_COMMAND, ++m_sequence,
                                  reinterpret_cast<const uint8_t*>(message.data()),
                                  static_cast<int>(message.size()), datagram, sizeof datagram);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kViscaOverIpPort);
    const auto bound = vantor::bind_address();
    to.sin_addr.s_addr =
        bound && vantor::is_loopback(*bound) ? bound->s_addr : htonl(INADDR_LOOPBACK);
    // The camera's acknowledgements are not needed: drain them so the buffer never fills.
    char reply[64];
    while (::recv(m_socket, reply, sizeof reply, 0) > 0) {
    }
    return length > 0 && ::sendto(m_socket, datagram, static_cast<std::size_t>(length), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == length;
}

bool PtzDriver::drive(const ptz_move& move)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const int pan_speed = speed_setting("PanSpeed", 1, 24, 12);
    const int tilt_speed = speed_setting("TiltSpeed", 1, 23, 12);
    const int zoom_speed = speed_setting("ZoomSpeed", 0, 7, 4);
    bool sent = true;
    const bool pan_tilt_changed = move.pan != m_current.pan || move.tilt != m_current.tilt;
    if (pan_tilt_changed || move.pan != 0 || move.tilt != 0) {
        sent = send(pan_tilt_message(move, pan_speed, tilt_speed)) && sent;
    }
    if (move.zoom != m_current.zoom || move.zoom != 0) {
        sent = send(zoom_focus_message(0x07, move.zoom, zoom_speed)) && sent;
    }
    if (move.focus != m_current.focus || move.focus != 0) {
        sent = send(zoom_focus_message(0x08, move.focus, 4)) && sent;
    }
    m_current = move;
    m_last_press = std::chrono::steady_clock::now();
    return sent;
}

void PtzDriver::watchdog()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, std::chrono::milliseconds(100));
        const bool moving = m_current.pan != 0 || m_current.tilt != 0 || m_current.zoom != 0 ||
                            m_current.focus != 0;
        if (moving && std::chrono::steady_clock::now() - m_last_press > kHoldTimeout) {
            const ptz_move previous = m_current;
            m_current = ptz_move{};
            if (previous.pan != 0 || previous.tilt != 0) {
                (void)send(pan_tilt_message(m_current, 1, 1));
            }
            if (previous.zoom != 0) {
                (void)send(zoom_focus_message(0x07, 0, 0));
            }
            if (previous.focus != 0) {
                (void)send(zoom_focus_message(0x08, 0, 0));
            }
        }
    }
}

bool PtzDriver::preset_request(bool store, int preset)
{
    if (preset < 1 || preset > 9) {
        return false;
    }
    return vantor::replace_file_atomically(vantor::board_path(store ? kSavePreset : kRecallPreset),
                                           "Preset-" + std::to_string(preset));
}
