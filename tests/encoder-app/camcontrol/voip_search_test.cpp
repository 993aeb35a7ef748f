// IP-setup discovery of the running encoder application, inside a camera and a studio network
// namespace that the test creates (veth link, default route), with BusyBox's ifconfig.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"
#include "voip_board.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::write_text;

constexpr const char* kCameraAddress = "10.77.0.2";
constexpr uint16_t kSearchPort = 52380;
const std::string kEnquiry = std::string("\x02") + "ENQ:network\xFF\x03";

// Runs one function of the board's network script; its exit status.
int netns_script(const std::string& call)
{
    const std::string script = std::string("source ") + VANTOR_SOURCE_DIR +
                               "/scripts/lib/board-netns.sh && " + call + " >/dev/null 2>&1";
    vantor::test::ChildStreams streams;
    streams.in = {-1, "/dev/null", O_RDONLY};
    return vantor::test::run_child({"/bin/bash", "-c", script}, streams);
}

// A UDP socket of the studio namespace on an ephemeral port, reporting where datagrams were sent
// and the refusals of what it sent: an enquiry that finds no socket listening (the responder does
// not listen while it answers) comes back as an ICMP error.
vantor::UniqueFd studio_socket(const std::string& netns)
{
    const vantor::UniqueFd own(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
    const vantor::UniqueFd studio(::open(("/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC));
    if (!own || !studio || ::setns(studio.get(), CLONE_NEWNET) != 0) {
        return {};
    }
    vantor::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    (void)::setns(own.get(), CLONE_NEWNET);
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (!fd || ::setsockopt(fd.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof(on)) != 0 ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        return {};
    }
    if (::setsockopt(fd.get(), IPPROTO_IP, IP_RECVERR, &on, sizeof(on)) != 0) {
        return {};
    }
    return fd;
}

struct Received {
    bool refused = false;  // the datagram sent before found no socket
    std::string bytes;
    std::string from;     // address:port of the sender
    std::string sent_to;  // destination address of the datagram
};

std::optional<Received> receive(int fd, std::chrono::milliseconds deadline)
{
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(deadline.count())) <= 0) {
        return std::nullopt;
    }
    char data[1024];
    char control[CMSG_SPACE(sizeof(in_pktinfo))];
    sockaddr_in from{};
    iovec iov{data, sizeof(data)};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof(from);
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    Received received;
    if ((waiting.revents & POLLERR) != 0) {
        received.refused = ::recvmsg(fd, &message, MSG_ERRQUEUE) >= 0;
        return received;
    }
    const ssize_t got = ::recvmsg(fd, &message, 0);
    if (got < 0) {
        return std::nullopt;
    }
    received.bytes.assign(data, static_cast<std::size_t>(got));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof(text));
    received.from = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof(info));
            ::inet_ntop(AF_INET, &info.ipi_addr, text, sizeof(text));
            received.sent_to = text;
        }
    }
    return received;
}

std::string reply_text(const std::string& version, const std::string& name,
                       const std::string& gateway = "10.77.0.1")
{
    const std::string end = "\xFF";
    return "\x02MAC:02-56-54-52-00-02" + end + "INFO:network" + end + "MODEL:IPCARD" + end +
           "SOFTVERSION:" + version + end + "IPADR:10.77.0.2" + end + "MASK:255.255.255.0" + end +
           "GATEWAY" + gateway + end + "NAME:" + name + end + "WRITE:on" + end + "\x03";
}

class DiscoveryInNamespaces : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "network namespaces need root";
        }
        if (netns_script("board_netns_up " + camera_ns + " " + studio_ns) != 0) {
            GTEST_SKIP() << "network namespaces cannot be created here";
        }
        made = true;
        board.emplace("", camera_ns);
        ASSERT_TRUE(board->camera.ready());
        ASSERT_TRUE(board->encoder.ready());
        const std::string tools = board->tools.path();
        ASSERT_EQ(::symlink("/usr/bin/busybox", (tools + "/ifconfig").c_str()), 0);
        // "ip route" prints nothing while the flag file exists.
        write_text(tools + "/ip", "#!/bin/sh\n[ -e " + gateway_off() + " ] && exit 0\n" +
                                      "exec /usr/sbin/ip \"$@\"\n");
        ::chmod((tools + "/ip").c_str(), 0755);
        set_identity("Vantor OPTA R8T 2.1.0042\n", "camera\n");
        ASSERT_TRUE(board->start_app({}, "START NDI Encode with format")) << board->app_output();
    }
    void TearDown() override
    {
        if (board) {
            EXPECT_EQ(board->stop_app(), 0) << board->app_output();
        }
        board.reset();
        if (made) {
            netns_script("board_netns_down " + camera_ns + " " + studio_ns);
        }
    }

    void set_identity(const std::string& firmware, const std::string& hostname)
    {
        write_text(board->board / "/etc/vantor-firmware-version", firmware);
        write_text(board->board / "/etc/hostname", hostname);
    }
    std::string gateway_off() const { return board->tools / "gateway-off"; }

    static void send(int fd, const std::string& bytes)
    {
        sockaddr_in camera{};
        camera.sin_family = AF_INET;
        camera.sin_port = htons(kSearchPort);
        camera.sin_addr = vantor::test::ipv4(kCameraAddress);
        (void)::sendto(fd, bytes.data(), bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&camera), sizeof(camera));
    }
    // Sends `enquiry` from a socket of its own and returns the replies, each checked to be a
    // broadcast from the camera's discovery port: three, or fewer when they did not come. The
    // responder does not listen while it answers: an enquiry that came then (refused, or taken
    // by the reply socket and so never answered) is sent again; replies to a repeated one go to
    // this socket only.
    std::vector<std::string> three_replies(const std::string& enquiry = kEnquiry) const
    {
        const vantor::UniqueFd fd = studio_socket(studio_ns);
        std::vector<std::string> replies;
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (replies.empty() && std::chrono::steady_clock::now() < end) {
            send(fd.get(), enquiry);
            for (auto reply = receive(fd.get(), 1000ms); reply && !reply->refused;
                 reply = receive(fd.get(), 1000ms)) {
                EXPECT_EQ(reply->from, std::string(kCameraAddress) + ":52380");
                EXPECT_EQ(reply->sent_to, "255.255.255.255");
                replies.push_back(reply->bytes);
                if (replies.size() == 3) {
                    break;
                }
            }
        }
        return replies;
    }

    const std::string camera_ns = "vantor-vs-cam-" + std::to_string(::getpid());
    const std::string studio_ns = "vantor-vs-st-" + std::to_string(::getpid());
    bool made = false;
    std::optional<vantor::test::VoipBoard> board;
};

TEST_F(DiscoveryInNamespaces, AnswersEnquiriesWithTheIdentityOfTheBoard)
{
    // An enquiry with another first byte, while the responder listens: nothing to its port. It
    // answers one enquiry after the other, so replies to it would have come before those to the
    // next one.
    const vantor::UniqueFd other = studio_socket(studio_ns);
    ASSERT_TRUE(other);
    send(other.get(), "\x03" + kEnquiry.substr(1));
    EXPECT_EQ(three_replies().size(), 3U);
    const auto answer = receive(other.get(), 0ms);
    EXPECT_FALSE(answer) << answer->refused << " " << answer->bytes;

    struct Row {
        const char* firmware;
        const char* hostname;
        const char* extra;  // bytes after the enquiry
        const char* version;
        const char* name;
    };
    const Row rows[] = {
        {"Vantor OPTA R8T 2.1.0042\n", "camera-studio-left\n", "", "0042", "camera-s"},
        {"2.1.42\n", "cam1\n", "tail bytes", "0000", "cam1"},
        {"1.0.1234", "ab", "", "1234", "ab"},
        {"", "", "", "0000", ""},
    };
    for (const Row& row : rows) {
        set_identity(row.firmware, row.hostname);
        // The identity is read at most once a second: the new one is in the replies within one.
        const std::vector<std::string> expected(3, reply_text(row.version, row.name));
        std::vector<std::string> replies;
        EXPECT_TRUE(vantor::test::wait_until(
            [&] { return (replies = three_replies(kEnquiry + row.extra)) == expected; }, 10000ms,
            200ms))
            << row.firmware << " / " << row.hostname << ": " << replies.size();
    }
    EXPECT_NE(board->app_output().find("client remote port: "), std::string::npos);
}

TEST_F(DiscoveryInNamespaces, FailingGatewayCommandKeepsThePreviousGateway)
{
    const std::vector<std::string> expected(3, reply_text("0042", "camera"));
    EXPECT_EQ(three_replies(), expected);
    write_text(gateway_off(), "");
    EXPECT_EQ(three_replies(), expected);
}

// A host-name file that is a FIFO nobody writes: the command reading it is ended after its
// time-out, the reply is skipped, discovery goes on once the file is a file again, and the
// program still ends on SIGINT (TearDown).
TEST_F(DiscoveryInNamespaces, FifoAsHostNameHoldsNeitherDiscoveryNorShutdown)
{
    const std::string hostname = board->board / "/etc/hostname";
    ASSERT_EQ(::unlink(hostname.c_str()), 0);
    ASSERT_EQ(::mkfifo(hostname.c_str(), 0644), 0);
    const vantor::UniqueFd fd = studio_socket(studio_ns);
    ASSERT_TRUE(vantor::test::wait_until(
        [&] {
            send(fd.get(), kEnquiry);
            return board->wait_output("cannot run the host-name command", 500ms);
        },
        10000ms))
        << board->app_output();
    ASSERT_EQ(::unlink(hostname.c_str()), 0);
    write_text(hostname, "camera\n");
    std::vector<std::string> replies;
    EXPECT_TRUE(vantor::test::wait_until(
        [&] {
            return (replies = three_replies()) ==
                   std::vector<std::string>(3, reply_text("0042", "camera"));
        },
        10000ms))
        << replies.size();
}

}  // namespace
