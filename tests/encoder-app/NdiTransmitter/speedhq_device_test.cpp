// The encoder device-access module against a test-side socket peer and, for the ioctl path, against
// nodes that are not the driver (/dev/null, a plain file): runs on the target too.

#include "NdiTransmitter/SpeedHqDevice.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_board_root.h"
#include "vantor/file_io.h"

namespace {

namespace proto = speedhq_protocol;
using vantor::test::TempBoardRoot;

// The bytes of one response message.
std::string response(std::uint16_t kind, std::int32_t result, std::int32_t error = 0,
                     bool has_argument = false, std::int32_t argument = 0,
                     const std::string& payload = "")
{
    proto::ResponseHeader header;
    header.kind = kind;
    header.result = result;
    header.error = error;
    header.has_argument = has_argument;
    header.argument = argument;
    header.payload_size = static_cast<std::uint32_t>(payload.size());
    std::uint8_t bytes[proto::kResponseHeaderSize];
    proto::encode_response_header(header, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes)) + payload;
}

// A stand-in for the simulator: accepts connections on a Unix socket and hands every complete
// request to the test's handler, which answers (or not) through the peer. One thread.
class ScriptedPeer {
public:
    struct Received {
        int connection = 0;
        bool valid = false;  // decoded as a request
        proto::Request request;
        std::string raw;
    };
    using Handler = std::function<void(const Received&, ScriptedPeer&)>;

    ScriptedPeer(const std::string& path, Handler handler) : m_handler(std::move(handler))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        m_listen.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        EXPECT_EQ(
            ::bind(m_listen.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)),
            0);
        EXPECT_EQ(::listen(m_listen.get(), 4), 0);
        int pipe_fds[2];
        EXPECT_EQ(::pipe(pipe_fds), 0);
        m_stop_read.reset(pipe_fds[0]);
        m_stop_write.reset(pipe_fds[1]);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedPeer()
    {
        vantor::write_all(m_stop_write.get(), "x");
        m_thread.join();
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // Called from the handler (on the peer's thread).
    void reply(int connection, const std::string& bytes)
    {
        vantor::write_all(m_connections.at(connection).fd.get(), bytes);
    }
    void hang_up(int connection) { m_connections.at(connection).fd.reset(); }

    std::vector<Received> received()
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        return m_received;
    }
    int connections() const { return m_next_connection.load(); }

private:
    struct Connection {
        vantor::UniqueFd fd;
        std::string input;
    };

    void serve()
    {
        while (true) {
            std::vector<pollfd> fds = {{m_stop_read.get(), POLLIN, 0}, {m_listen.get(), POLLIN, 0}};
            std::vector<int> ids;
            for (auto& [id, connection] : m_connections) {
                if (connection.fd) {
                    fds.push_back({connection.fd.get(), POLLIN, 0});
                    ids.push_back(id);
                }
            }
            if (::poll(fds.data(), fds.size(), -1) < 0 || fds[0].revents != 0) {
                return;
            }
            if (fds[1].revents != 0) {
                m_connections[m_next_connection++].fd.reset(
                    ::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
            }
            for (std::size_t i = 0; i < ids.size(); ++i) {
                if (fds[i + 2].revents != 0) {
                    read_from(ids[i]);
                }
            }
        }
    }

    void read_from(int id)
    {
        Connection& connection = m_connections[id];
        char buffer[256];
        const ssize_t n = ::read(connection.fd.get(), buffer, sizeof(buffer));
        if (n <= 0) {
            connection.fd.reset();
            return;
        }
        connection.input.append(buffer, static_cast<std::size_t>(n));
        while (connection.fd && connection.input.size() >= proto::kRequestSize) {
            Received received;
            received.connection = id;
            received.raw = connection.input.substr(0, proto::kRequestSize);
            connection.input.erase(0, proto::kRequestSize);
            std::uint8_t bytes[proto::kRequestSize];
            std::memcpy(bytes, received.raw.data(), sizeof(bytes));
            received.valid = proto::decode_request(bytes, received.request);
            {
                const std::lock_guard<std::mutex> lock(m_lock);
                m_received.push_back(received);
            }
            m_handler(received, *this);
        }
    }

    Handler m_handler;
    vantor::UniqueFd m_listen;
    vantor::UniqueFd m_stop_read;
    vantor::UniqueFd m_stop_write;
    std::map<int, Connection> m_connections;  // only touched by the peer's thread
    std::atomic<int> m_next_connection{0};
    std::mutex m_lock;
    std::vector<Received> m_received;
    std::thread m_thread;
};

// Answers every control request with 0 (echoing the argument) and every read of N bytes with N
// bytes 0, 1, 2, ...
void answer_plainly(const ScriptedPeer::Received& received, ScriptedPeer& peer)
{
    const proto::Request& request = received.request;
    if (request.kind == proto::kRead) {
        std::string payload(request.code, '\0');
        for (std::size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<char>(i & 0xFFU);
        }
        peer.reply(
            received.connection,
            response(proto::kRead, static_cast<std::int32_t>(request.code), 0, false, 0, payload));
    } else {
        peer.reply(received.connection,
                   response(proto::kControl, 0, 0, request.has_argument, request.argument));
    }
}

class SpeedHqDeviceSocket : public ::testing::Test {
protected:
    SpeedHqDeviceSocket() { m_root.make_dir("/dev"); }
    std::string node() const { return m_root / kVantorSpeedHqDevicePath; }

    TempBoardRoot m_root;
};

TEST_F(SpeedHqDeviceSocket, RequestsTravelAsLittleEndianMessagesThroughTheBoardRoot)
{
    ScriptedPeer peer(node(), answer_plainly);
    SpeedHqDevice device;
    ASSERT_TRUE(device.open());  // "/dev/vantor-speedhq" below the board root
    EXPECT_EQ(device.transport(), SpeedHqDevice::Transport::Socket);

    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_STOP), 0);
    std::int32_t config = 0x01020307;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_VIN_INSEL, config), 0);
    std::int32_t negative = -2;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_SET_BR_PROG, negative), 0);

    const auto received = peer.received();
    ASSERT_EQ(received.size(), 3U);
    EXPECT_EQ(received[0].raw,
              std::string("VSHQ\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00", 16));
    EXPECT_EQ(received[1].raw,
              std::string("VSHQ\x01\x00\x01\x00\x0C\x00\x00\x00\x07\x03\x02\x01", 16));
    EXPECT_EQ(received[2].raw,
              std::string("VSHQ\x01\x00\x01\x00\x05\x00\x00\x00\xFE\xFF\xFF\xFF", 16));
}

TEST_F(SpeedHqDeviceSocket, ArgumentsResultsAndErrorsComeBackAsFromIoctl)
{
    ScriptedPeer peer(node(), [](const ScriptedPeer::Received& received, ScriptedPeer& p) {
        switch (received.request.code) {
        case VANTOR_SPEEDHQ_IOCTL_GET_FIELD:
            p.reply(received.connection, response(proto::kControl, 0, 0, true, 1));
            break;
        case VANTOR_SPEEDHQ_IOCTL_READ_LENGTH:
            p.reply(received.connection, response(proto::kControl, 0, 0, true, 1234567));
            break;
        case 99:
            p.reply(received.connection, response(proto::kControl, -1, ENOTTY));
            break;
        case 98:
            p.reply(received.connection, response(proto::kControl, -1, 0));  // no errno given
            break;
        default:
            p.reply(received.connection, response(proto::kControl, 7));
        }
    });
    SpeedHqDevice device;
    ASSERT_TRUE(device.open());
    std::int32_t field = 0;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_GET_FIELD, field), 0);
    EXPECT_EQ(field, 1);
    std::int32_t length = 0;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_READ_LENGTH, length), 0);
    EXPECT_EQ(length, 1234567);
    errno = 0;
    EXPECT_EQ(device.request(99), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(device.request(98), -1);
    EXPECT_EQ(errno, EIO);
    // A failed request leaves the connection usable, and a non-zero result passes through.
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_START), 7);
}

TEST_F(SpeedHqDeviceSocket, ReadsReturnPictureBytesAndTheStatusRecord)
{
    ScriptedPeer peer(node(), [](const ScriptedPeer::Received& received, ScriptedPeer& p) {
        if (received.request.kind != proto::kRead) {
            p.reply(received.connection, response(proto::kControl, -1, EINVAL));
        } else if (received.request.code == VANTOR_SPEEDHQ_STATUS_WORDS) {
            std::string status(24, '\0');
            const std::uint32_t words[6] = {0x11223344U, 0, 0xFFFFFFFFU, 1, 4, 0x80000000U};
            for (std::size_t i = 0; i < 6; ++i) {
                proto::put_u32(reinterpret_cast<std::uint8_t*>(&status[4 * i]), words[i]);
            }
            p.reply(received.connection, response(proto::kRead, 5, 0, false, 0, status));
        } else {
            // A picture shorter than asked for: the count says so.
            p.reply(received.connection,
                    response(proto::kRead, 3, 0, false, 0, std::string("\x50\x04\x00", 3)));
        }
    });
    SpeedHqDevice device;
    ASSERT_TRUE(device.open());
    SpeedHqDevice::StatusRecord status{};
    EXPECT_EQ(device.read_status(status), 5);
    EXPECT_EQ(status[0], 0x11223344);
    EXPECT_EQ(status[2], -1);
    EXPECT_EQ(status[4], 4);
    EXPECT_EQ(status[5], INT32_MIN);

    std::uint8_t picture[16];
    std::memset(picture, 0xAA, sizeof(picture));
    EXPECT_EQ(device.read(picture, sizeof(picture)), 3);
    EXPECT_EQ(picture[0], 0x50);
    EXPECT_EQ(picture[1], 0x04);
    EXPECT_EQ(picture[2], 0x00);
    EXPECT_EQ(picture[3], 0xAA);  // nothing written past the count

    const auto received = peer.received();
    ASSERT_EQ(received.size(), 2U);
    EXPECT_EQ(received[0].request.kind, proto::kRead);
    EXPECT_EQ(received[0].request.code, 6U);
    EXPECT_EQ(received[1].request.code, 16U);
}

// Each reply that breaks the protocol fails the call with a defined error and drops the
// connection: later calls fail at once instead of reading a stream that is out of step.
TEST_F(SpeedHqDeviceSocket, MalformedRepliesFailTheCallAndDropTheConnection)
{
    std::string bad_magic = response(proto::kControl, 0);
    bad_magic[0] = 'X';
    std::string unknown_flag = response(proto::kControl, 0);
    unknown_flag[6] = 0x02;
    std::string huge_payload = response(proto::kRead, 0);
    proto::put_u32(reinterpret_cast<std::uint8_t*>(&huge_payload[20]), proto::kMaxReadCount + 1);

    struct Case {
        const char* name;
        bool read;    // the call is a read of 8 bytes (else a request)
        bool status;  // the call is a status read
        std::string reply;
        int error;
    };
    const std::vector<Case> cases = {
        {"bad magic", false, false, bad_magic, EPROTO},
        {"unknown flag", false, false, unknown_flag, EPROTO},
        {"refused", false, false, response(proto::kRefused, -1, EPROTO), EPROTO},
        {"kind of another request", false, false, response(proto::kRead, 0), EPROTO},
        {"control reply with payload", false, false,
         response(proto::kControl, 0, 0, false, 0, "ab"), EPROTO},
        {"failure with payload", true, false, response(proto::kRead, -1, EIO, false, 0, "ab"),
         EPROTO},
        {"payload larger than the read", true, false,
         response(proto::kRead, 9, 0, false, 0, std::string(9, 'x')), EPROTO},
        {"count not the payload size", true, false,
         response(proto::kRead, 8, 0, false, 0, std::string(4, 'x')), EPROTO},
        {"oversized payload", true, false, huge_payload, EPROTO},
        {"short status record", false, true,
         response(proto::kRead, 1, 0, false, 0, std::string(20, 'x')), EPROTO},
        {"truncated header", false, false, response(proto::kControl, 0).substr(0, 10), ECONNRESET},
        {"truncated payload", true, false,
         response(proto::kRead, 8, 0, false, 0, std::string(8, 'x')).substr(0, 28), ECONNRESET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempBoardRoot root;
        root.make_dir("/dev");
        const std::string reply = c.reply;
        ScriptedPeer peer(root / kVantorSpeedHqDevicePath,
                          [&reply](const ScriptedPeer::Received& received, ScriptedPeer& p) {
                              p.reply(received.connection, reply);
                              p.hang_up(received.connection);  // ends a truncated reply
                          });
        SpeedHqDevice device;
        ASSERT_TRUE(device.open());
        errno = 0;
        std::uint8_t buffer[8] = {};
        SpeedHqDevice::StatusRecord status{};
        if (c.read) {
            EXPECT_EQ(device.read(buffer, sizeof(buffer)), -1);
        } else if (c.status) {
            EXPECT_EQ(device.read_status(status), -1);
        } else {
            EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_START), -1);
        }
        EXPECT_EQ(errno, c.error);
        errno = 0;
        EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_STOP), -1);
        EXPECT_EQ(errno, ENOTCONN);
        EXPECT_EQ(peer.received().size(), 1U);
    }
}

// The frame wait has its own connection: while one thread waits for a frame, another thread's
// request is answered (the peer answers the wait only after it has served that request).
TEST_F(SpeedHqDeviceSocket, AFrameWaitDoesNotHoldUpOtherRequests)
{
    int waiting_connection = -1;
    ScriptedPeer peer(
        node(), [&waiting_connection](const ScriptedPeer::Received& received, ScriptedPeer& p) {
            const proto::Request& request = received.request;
            if (request.code == VANTOR_SPEEDHQ_IOCTL_RD_SEL &&
                request.argument == VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME) {
                waiting_connection = received.connection;  // answered later
                return;
            }
            p.reply(received.connection, response(proto::kControl, 0, 0, true, request.argument));
            if (request.code == VANTOR_SPEEDHQ_IOCTL_SET_BR_PROG && waiting_connection >= 0) {
                p.reply(waiting_connection, response(proto::kControl, 0, 0, true, 1));
            }
        });
    SpeedHqDevice device;
    ASSERT_TRUE(device.open());
    std::atomic<int> wait_result{-2};
    std::thread frame_thread([&device, &wait_result] {
        std::int32_t selector = VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME;
        wait_result = device.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, selector);
    });
    // Once the wait is at the peer, the bit-rate request goes out from this thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (peer.received().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::int32_t bit_rate = 500000;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_SET_BR_PROG, bit_rate), 0);
    frame_thread.join();
    EXPECT_EQ(wait_result.load(), 0);

    const auto received = peer.received();
    ASSERT_EQ(received.size(), 2U);
    EXPECT_NE(received[0].connection, received[1].connection);
    // Other selectors are plain requests on the shared connection.
    std::int32_t selector = VANTOR_SPEEDHQ_RD_SEL_PROGRAM;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, selector), 0);
    EXPECT_EQ(peer.received().back().connection, received[1].connection);
}

TEST_F(SpeedHqDeviceSocket, APeerThatGoesAwayFailsTheCallsAndReopeningRecovers)
{
    auto peer = std::make_unique<ScriptedPeer>(
        node(), [](const ScriptedPeer::Received& received, ScriptedPeer& p) {
            p.hang_up(received.connection);
        });
    SpeedHqDevice device;
    ASSERT_TRUE(device.open());
    errno = 0;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_START), -1);
    EXPECT_EQ(errno, ECONNRESET);

    peer.reset();
    ::unlink(node().c_str());
    ScriptedPeer plain(node(), answer_plainly);
    ASSERT_TRUE(device.open());
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_START), 0);
    std::uint8_t buffer[40];
    EXPECT_EQ(device.read(buffer, sizeof(buffer)), 40);
    EXPECT_EQ(buffer[39], 39);
}

TEST(SpeedHqDeviceOpen, AMissingNodeFailsAndEveryCallOnAClosedDeviceFails)
{
    TempBoardRoot root;
    SpeedHqDevice device;
    errno = 0;
    EXPECT_FALSE(device.open());
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(device.is_open());
    EXPECT_EQ(device.transport(), SpeedHqDevice::Transport::Closed);

    std::int32_t value = 1;
    std::uint8_t buffer[4];
    SpeedHqDevice::StatusRecord status{};
    errno = 0;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_STOP), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_LOW_AC, value), -1);
    EXPECT_EQ(device.read(buffer, sizeof(buffer)), -1);
    EXPECT_EQ(device.read_status(status), -1);
    EXPECT_EQ(errno, EBADF);
}

// The error of an ioctl the node does not know: ENOTTY from the kernel. qemu-arm, which runs the
// target's tests, answers ioctls it cannot translate itself, with ENOSYS.
bool is_unknown_ioctl_error(int error)
{
#if defined(__arm__)
    return error == ENOTTY || error == ENOSYS;
#else
    return error == ENOTTY;
#endif
}

// The ioctl path: /dev/null is a character device without these requests, so every request
// fails as an unknown ioctl does, and reads return what the node gives.
TEST(SpeedHqDeviceCharacter, DevNullRefusesTheRequestsWithEnotty)
{
    SpeedHqDevice device;
    ASSERT_TRUE(device.open("/dev/null"));
    EXPECT_EQ(device.transport(), SpeedHqDevice::Transport::CharacterDevice);
    errno = 0;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_START), -1);
    EXPECT_TRUE(is_unknown_ioctl_error(errno)) << errno;
    std::int32_t value = 1;
    errno = 0;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, value), -1);
    EXPECT_TRUE(is_unknown_ioctl_error(errno)) << errno;
    EXPECT_EQ(value, 1);
    SpeedHqDevice::StatusRecord status{};
    EXPECT_EQ(device.read_status(status), 0);  // index 0: no valid buffer
    std::uint8_t buffer[8];
    EXPECT_EQ(device.read(buffer, sizeof(buffer)), 0);
    device.close();
    EXPECT_FALSE(device.is_open());
}

TEST(SpeedHqDeviceCharacter, APlainFileIsUsedLikeADeviceAndItsIoctlsFail)
{
    TempBoardRoot root;
    root.make_dir("/dev");
    vantor::test::write_text(root / kVantorSpeedHqDevicePath, std::string("\x50\x04\x00\x00", 4));
    SpeedHqDevice device;
    ASSERT_TRUE(device.open());
    EXPECT_EQ(device.transport(), SpeedHqDevice::Transport::CharacterDevice);
    std::int32_t length = 0;
    errno = 0;
    EXPECT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_READ_LENGTH, length), -1);
    EXPECT_TRUE(is_unknown_ioctl_error(errno)) << errno;
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(device.read(buffer, sizeof(buffer)), 4);
    EXPECT_EQ(buffer[1], 0x04);
}

}  // namespace
