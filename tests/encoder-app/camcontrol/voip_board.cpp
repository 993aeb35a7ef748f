#include "voip_board.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <sstream>
#include <utility>

#include "camcontrol/voip_framing.h"
#include "support/board_tools.h"
#include "support/child_process.h"
#include "support/wait_until.h"

namespace vantor::test {

namespace {

constexpr auto kStartDeadline = std::chrono::seconds(60);

}  // namespace

Bytes hex(const std::string& text)
{
    Bytes bytes;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
    return bytes;
}

std::string hex(const Bytes& bytes)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof(byte), i == 0 ? "%02X" : " %02X", bytes[i]);
        text += byte;
    }
    return text;
}

in_addr ipv4(const std::string& text)
{
    in_addr parsed{};
    ::inet_pton(AF_INET, text.c_str(), &parsed);
    return parsed;
}

int run_child(const std::vector<std::string>& argv, const ChildStreams& streams)
{
    const pid_t pid = start_child(argv, streams);
    int status = -1;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string own_loopback_address()
{
    // Every pid (below 2^22, the largest pid_max) has an address of its own in 127.64.0.0/10.
    const auto pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string(64U + ((pid >> 16U) & 63U)) + "." +
           std::to_string((pid >> 8U) & 0xFFU) + "." + std::to_string(pid & 0xFFU);
}

VoipController::VoipController(in_addr camera, uint16_t port)
    : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    m_camera.sin_family = AF_INET;
    m_camera.sin_addr = camera;
    m_camera.sin_port = htons(port);
}

void VoipController::send(const Bytes& datagram) const
{
    (void)::sendto(m_fd.get(), datagram.data(), datagram.size(), 0,
                   reinterpret_cast<const sockaddr*>(&m_camera), sizeof(m_camera));
}

std::optional<Bytes> VoipController::receive(std::chrono::milliseconds deadline) const
{
    pollfd waiting{m_fd.get(), POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(deadline.count())) <= 0) {
        return std::nullopt;
    }
    Bytes datagram(VOIP_DATAGRAM_MAX);
    const ssize_t got = ::recv(m_fd.get(), datagram.data(), datagram.size(), 0);
    if (got < 0) {
        return std::nullopt;
    }
    datagram.resize(static_cast<std::size_t>(got));
    return datagram;
}

std::optional<Bytes> VoipController::barrier(uint32_t sequence_number,
                                             std::vector<Bytes>* before) const
{
    // The video-format inquiry: answered by every camera state.
    Bytes inquiry(VOIP_HEADER_LENGTH);
    const Bytes message = hex("81 09 04 24 72 FF");
    voip_write_header(VOIP_VISCA_INQUIRY, static_cast<uint16_t>(message.size()), sequence_number,
                      inquiry.data());
    inquiry.insert(inquiry.end(), message.begin(), message.end());
    send(inquiry);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        auto datagram = receive(std::chrono::milliseconds(100));
        if (!datagram) {
            continue;
        }
        voip_header header;
        if (voip_decode_header(datagram->data(), static_cast<int>(datagram->size()), header) &&
            header.payload_type == VOIP_VISCA_REPLY && header.sequence_number == sequence_number &&
            datagram->size() > VOIP_HEADER_LENGTH + 1 &&
            (*datagram)[VOIP_HEADER_LENGTH + 1] == 0x50) {
            return datagram;
        }
        if (before != nullptr) {
            before->push_back(*datagram);
        }
    }
    return std::nullopt;
}

VoipBoard::VoipBoard(std::string bind_address, std::string netns,
                     const std::vector<std::string>& camera_options)
    : camera((board.make_dir("/dev"), VANTOR_BIN_DIR), board / "/dev/ttyPS1",
             board / "/camera.sock", camera_options),
      encoder(VANTOR_BIN_DIR, board / "/dev/vantor-speedhq", {"--rate", "30"}),
      m_bind_address(std::move(bind_address)), m_netns(std::move(netns))
{
    board.make_dir("/etc");
    board.make_dir("/tmp");
    write_text(board / "/etc/vantor-enc1-settings.json",
               R"({"VideoFormat":"1080p50","VideoSampleRate":"422"})");
}

VoipBoard::~VoipBoard()
{
    if (m_app > 0) {
        ::kill(m_app, SIGKILL);
        int status = 0;
        ::waitpid(m_app, &status, 0);
    }
}

bool VoipBoard::start_app(in_addr reach, const std::string& ready_line)
{
    std::vector<std::string> argv;
    if (!m_netns.empty()) {
        argv = {"/usr/sbin/ip", "netns", "exec", m_netns};
    }
    argv.emplace_back("/usr/bin/env");
    if (m_bind_address.empty()) {
        // As on the camera: every address of the camera's own namespace.
        argv.insert(argv.end(), {"-u", "VANTOR_BIND_ADDRESS", "VANTOR_NDI_ADDRESS=0.0.0.0"});
    } else {
        argv.push_back("VANTOR_BIND_ADDRESS=" + m_bind_address);
        argv.push_back("VANTOR_NDI_ADDRESS=" + m_bind_address);
    }
    argv.insert(argv.end(),
                {"VANTOR_ROOT=" + board.path(), "VANTOR_NDI_REGISTRY=" + registry.path(),
                 "PATH=" + tools_first_in_path(tools)});
    argv.push_back(std::string(VANTOR_BIN_DIR) + "/encoder-app");
    ChildStreams streams;
    streams.in = {-1, "/dev/null", O_RDONLY};
    streams.out = {-1, board / "/app.log", O_WRONLY | O_CREAT | O_TRUNC};
    m_app = start_child(argv, streams);
    if (m_app < 0) {
        return false;
    }
    // The first format change holds every command source back; it has ended once encoding starts.
    if (!wait_output(ready_line.empty() ? "START NDI Encode with format" : ready_line,
                     kStartDeadline)) {
        return false;
    }
    if (app_output().find("VISCA over IP: bind") != std::string::npos) {
        return false;  // another program holds the port at this address
    }
    if (!m_netns.empty()) {
        return true;
    }
    const VoipController probe(reach, 52381);
    return wait_until(
        [&] {
            probe.send(hex("02 00 00 01 00 00 00 00 01"));
            return probe.receive(std::chrono::milliseconds(100)).has_value();
        },
        kStartDeadline);
}

int VoipBoard::stop_app()
{
    if (m_app <= 0) {
        return -1;
    }
    ::kill(m_app, SIGINT);
    int status = 0;
    const bool ended = wait_until([&] { return ::waitpid(m_app, &status, WNOHANG) == m_app; },
                                  std::chrono::seconds(30));
    if (!ended) {
        return -1;
    }
    m_app = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string VoipBoard::app_output() const
{
    return read_text(board / "/app.log");
}

bool VoipBoard::wait_output(const std::string& text, std::chrono::milliseconds deadline) const
{
    return wait_until([&] { return app_output().find(text) != std::string::npos; }, deadline);
}

}  // namespace vantor::test
