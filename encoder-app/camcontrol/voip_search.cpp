#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>

#include "HelperLib/command_output.h"
#include "camcontrol/Camcontrol.h"
#include "camcontrol/voip_search_enquiry.h"
#include "camcontrol/voip_socket.h"
#include "vantor/board_root.h"

// IP-setup discovery on UDP 52380: an enquiry "\x02ENQ:network\xFF\x03" is answered three times,
// by broadcast to the enquirer's port, with the camera's MAC address, address, mask, gateway,
// name and version. The listening socket is closed before each reply, so that the reply socket
// can bind the same port.

namespace {

constexpr uint8_t kStart = 0x02;
constexpr uint8_t kFieldEnd = 0xFF;
constexpr uint8_t kEnd = 0x03;
constexpr const char kEnquiryText[] = "ENQ:network";
constexpr int kEnquiryLength = 14;
constexpr auto kReceiveTimeout = std::chrono::milliseconds(500);
constexpr int kReplies = 3;
constexpr int kReplySpreadMs = 50;
constexpr int IP_BUF_LEN = 50;
constexpr int kFileLineLength = 99;
constexpr std::size_t kNameLength = 8;
constexpr std::size_t kVersionLength = 4;
constexpr std::string::size_type kShortestCommandLine = 6;
// The identity (six shell commands, dozens of processes on the camera) is read at most this often,
// however many enquiries arrive.
constexpr auto kIdentityPeriod = std::chrono::seconds(1);

constexpr const char* kAddressCommand =
    "ifconfig eth0 | grep 'inet addr' | cut -d: -f2 | awk '{print $1}'";
constexpr const char* kMacCommand = "ifconfig eth0 | grep 'HWaddr' |  awk -F ' ' '{ print $5}'";
constexpr const char* kMaskCommand = "ifconfig eth0 | grep 'Mask' |  awk -F : '{ print $4}'";
constexpr const char* kGatewayCommand = "ip route | grep 'default via' | awk '{ print $3}'";

std::string cat_command(const char* system_path)
{
    return "cat " + vantor::board_path(system_path);
}

void drop_line_feed(std::string& line)
{
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
}

void append_field(std::string& reply, const std::string& field)
{
    reply += field;
    reply += static_cast<char>(kFieldEnd);
}

}  // namespace

bool voip_is_search_enquiry(const uint8_t* datagram, int length)
{
    if (length < kEnquiryLength || datagram[0] != kStart ||
        datagram[kEnquiryLength - 2] != kFieldEnd || datagram[kEnquiryLength - 1] != kEnd) {
        return false;
    }
    return std::memcmp(datagram + 1, kEnquiryText, sizeof(kEnquiryText) - 1) == 0;
}

int Camcontrol::GetCmd(const char* cmd, std::string& target)
{
    std::string line;
    if (!command_last_read(cmd, IP_BUF_LEN - 1, line)) {
        return 0;
    }
    if (line.size() <= kShortestCommandLine) {
        return 0;
    }
    drop_line_feed(line);
    target = line;
    return 1;
}

int Camcontrol::GetFWVersion(std::string& target)
{
    std::string line;
    if (!command_last_read(cat_command("/etc/vantor-firmware-version").c_str(), kFileLineLength,
                           line)) {
        return 0;
    }
    drop_line_feed(line);
    std::string rest = line.substr(line.find_last_of(' ') + 1);
    rest = rest.substr(rest.find_last_of('.') + 1);
    target = rest.size() >= kVersionLength ? rest.substr(0, kVersionLength) : "0000";
    return 1;
}

int Camcontrol::LocalIP_InfoGet()
{
    const std::pair<const char*, std::string*> commands[] = {{kAddressCommand, &m_sLocalIP},
                                                             {kMacCommand, &m_sMacAddr},
                                                             {kMaskCommand, &m_sNetMask},
                                                             {kGatewayCommand, &m_sGateway}};
    for (const auto& [command, target] : commands) {
        if (GetCmd(command, *target) == 0) {
            return 0;
        }
    }
    return 1;
}

bool Camcontrol::voip_search_identity()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_search_identity_read && now - m_search_identity_time < kIdentityPeriod) {
        return m_search_identity_known;
    }
    m_search_identity_read = true;
    m_search_identity_time = now;
    std::string name;
    if (!command_last_read(cat_command("/etc/hostname").c_str(), kFileLineLength, name)) {
        std::puts("discovery: cannot run the host-name command, reply skipped");
        std::fflush(stdout);
        m_search_identity_known = false;
        return false;
    }
    // Only a line feed ends the name; a name without one keeps its last character.
    drop_line_feed(name);
    m_search_name = name.substr(0, kNameLength);
    LocalIP_InfoGet();
    std::replace(m_sMacAddr.begin(), m_sMacAddr.end(), ':', '-');
    m_search_version.clear();
    GetFWVersion(m_search_version);
    m_search_identity_known = true;
    return true;
}

int Camcontrol::camcontrol_voip_search_sendto(uint16_t srcPort)
{
    if (!voip_search_budget.take()) {
        return 5;  // the broadcasts of this second are spent
    }
    const vantor::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        std::printf("sock failed: %s\n", std::strerror(errno));
        std::fflush(stdout);
        return 1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = voip_bind_address;
    local.sin_port = htons(PORT_search);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        std::printf("bind: %s\n", std::strerror(errno));
        std::fflush(stdout);
        return 2;
    }
    const int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0) {
        std::printf("setsockopt failed\n: %s\n", std::strerror(errno));
        std::fflush(stdout);
        return 3;
    }

    if (!voip_search_identity()) {
        return 4;
    }
    std::string reply(1, static_cast<char>(kStart));
    append_field(reply, "MAC:" + m_sMacAddr);
    append_field(reply, "INFO:network");
    append_field(reply, "MODEL:IPCARD");
    append_field(reply, "SOFTVERSION:" + m_search_version);
    append_field(reply, "IPADR:" + m_sLocalIP);
    append_field(reply, "MASK:" + m_sNetMask);
    append_field(reply, "GATEWAY" + m_sGateway);
    append_field(reply, "NAME:" + m_search_name);
    append_field(reply, "WRITE:on");
    reply += static_cast<char>(kEnd);

    sockaddr_in broadcast{};
    broadcast.sin_family = AF_INET;
    broadcast.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    broadcast.sin_port = htons(srcPort);
    (void)::sendto(fd.get(), reply.data(), reply.size(), 0,
                   reinterpret_cast<const sockaddr*>(&broadcast), sizeof(broadcast));
    return 0;
}

void Camcontrol::camcontrol_voip_search()
{
    uint8_t datagram[MAXLINE];
    while (camcontrol_voip_Running) {
        sockfd_search.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        servaddr_search = {};
        servaddr_search.sin_family = AF_INET;
        servaddr_search.sin_addr = voip_bind_address;
        servaddr_search.sin_port = htons(PORT_search);
        const int on = 1;
        if (!sockfd_search ||
            ::bind(sockfd_search.get(), reinterpret_cast<const sockaddr*>(&servaddr_search),
                   sizeof(servaddr_search)) != 0) {
            // The port is taken (or no socket): not a busy loop, the next try in a while.
            sockfd_search.reset();
            std::this_thread::sleep_for(kReceiveTimeout);
            continue;
        }
        voip_set_receive_timeout(sockfd_search.get(), kReceiveTimeout);
        (void)::setsockopt(sockfd_search.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
        cliaddr_search_len = sizeof(cliaddr_search);
        recv_length_search = static_cast<int>(
            ::recvfrom(sockfd_search.get(), datagram, sizeof(datagram), 0,
                       reinterpret_cast<sockaddr*>(&cliaddr_search), &cliaddr_search_len));
        sockfd_search.reset();
        if (recv_length_search <= 0 || !voip_is_search_enquiry(datagram, recv_length_search)) {
            continue;
        }
        const uint16_t port = ntohs(cliaddr_search.sin_port);
        std::printf("client remote port: %i\n", static_cast<int>(port));
        std::fflush(stdout);
        for (int i = 0; i < kReplies && camcontrol_voip_Running; ++i) {
            camcontrol_voip_search_sendto(port);
            std::minstd_rand random(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
            std::this_thread::sleep_for(
                std::chrono::milliseconds(static_cast<int>(random() % kReplySpreadMs) + 1));
        }
    }
}
