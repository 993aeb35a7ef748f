// A storm of NDI receivers from the studio side while a well-behaved receiver watches the program
// stream: hundreds of connections opened and dropped, messages cut off halfway, receivers that
// flood the camera with metadata. The well-behaved receiver loses no picture, and the sender still
// takes new receivers afterwards.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camera_board.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr int kDroppedConnections = 300;
constexpr int kHalfWrittenConnections = 100;
constexpr int kFlooders = 4;
constexpr auto kStormTime = 10s;
constexpr auto kStormLimit = 40s;
constexpr double kMinFps = 40.0;  // 720p59.94, loose for the sanitizer builds

// An 8-byte message header: magic, type, flags 0, little-endian payload length.
Bytes header(uint8_t type, uint32_t length)
{
    return {'V',
            'N',
            type,
            0,
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 24)};
}

// A hello asking for no video or audio: metadata flows anyway.
Bytes metadata_only_hello()
{
    Bytes message = header(0x01, 4);
    message.insert(message.end(), {0, 0, 0, 0});
    return message;
}

Bytes metadata(const std::string& text)
{
    Bytes message = header(0x02, static_cast<uint32_t>(8 + text.size()));
    message.insert(message.end(), 8, 0);  // timecode
    message.insert(message.end(), text.begin(), text.end());
    return message;
}

// Metadata a controller might send, mostly nothing the camera acts on: unknown elements, broken
// XML, and now and then a harmless PTZ command.
std::string flood_text(int n)
{
    static const std::string long_text(3000, 'x');
    switch (n % 4) {
    case 0:
        return "<flood n=\"" + std::to_string(n) + "\"/>";
    case 1:
        return "<ntk_ptz_zoom_speed zoom_speed=";
    case 2:
        return long_text.substr(0, static_cast<size_t>(n % 3000));
    default:
        return n % 40 == 3 ? "<ntk_ptz_zoom_speed zoom_speed=\"0\"/>" : "<a><b><c></a>";
    }
}

class NdiStormTest : public vantor::test::CameraBoardTest {
protected:
    // A non-blocking TCP connection from the studio namespace to the camera's sender, connected
    // (or given up) within the deadline.
    vantor::UniqueFd connect_to_sender(std::chrono::milliseconds deadline) const
    {
        vantor::UniqueFd fd = studio_socket(SOCK_STREAM);
        sockaddr_in sender{};
        sender.sin_family = AF_INET;
        sender.sin_port = htons(ndi_port());
        if (!fd || ::inet_pton(AF_INET, camera_address().c_str(), &sender.sin_addr) != 1) {
            return {};
        }
        (void)::connect(fd.get(), reinterpret_cast<const sockaddr*>(&sender), sizeof sender);
        pollfd ready{fd.get(), POLLOUT, 0};
        if (::poll(&ready, 1, static_cast<int>(deadline.count())) != 1) {
            return {};
        }
        return fd;
    }
};

void send_some(int fd, const Bytes& bytes)
{
    (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

TEST_F(NdiStormTest, ProgramStreamGoesOnThroughConnectionAndMetadataStorms)
{
    const int receiver_seconds = static_cast<int>(kStormTime.count()) + 12;
    auto receiver = start_program_receiver(receiver_seconds);
    ASSERT_TRUE(wait_receiver_connected(*receiver)) << receiver->output();

    std::vector<vantor::UniqueFd> flooders;
    for (int i = 0; i < kFlooders; ++i) {
        flooders.push_back(connect_to_sender(2s));
        ASSERT_TRUE(flooders.back());
        send_some(flooders.back().get(), metadata_only_hello());
    }
    const Bytes hello = metadata_only_hello();
    const auto start = std::chrono::steady_clock::now();
    int dropped = 0;
    int half_written = 0;
    int flooded = 0;
    int connected = 0;
    // At least the storm's time, until every connection has been made, within a hard bound.
    const auto storming = [&] {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const bool more = dropped < kDroppedConnections || half_written < kHalfWrittenConnections;
        return elapsed < kStormLimit && (elapsed < kStormTime || more);
    };
    for (int round = 0; storming(); ++round) {
        if (dropped < kDroppedConnections) {
            // Opened and dropped at once: every other one reset instead of closed.
            vantor::UniqueFd fd = connect_to_sender(100ms);
            connected += fd ? 1 : 0;
            if (fd && round % 2 == 0) {
                const linger reset{1, 0};
                (void)::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            ++dropped;
        }
        if (half_written < kHalfWrittenConnections) {
            vantor::UniqueFd fd = connect_to_sender(100ms);
            connected += fd ? 1 : 0;
            if (fd) {
                // A header cut off, a hello cut off, or a metadata message cut off after the
                // hello, announcing far more than it sends.
                const Bytes message = round % 3 == 0 ? header(0x02, 60000) : hello;
                if (round % 3 == 2) {
                    send_some(fd.get(), hello);
                }
                const auto cut = static_cast<std::ptrdiff_t>(1 + round % (message.size() - 1));
                send_some(fd.get(), Bytes(message.begin(), message.begin() + cut));
            }
            ++half_written;
        }
        for (const vantor::UniqueFd& fd : flooders) {
            for (int i = 0; i < 20; ++i) {
                send_some(fd.get(), metadata(flood_text(flooded++)));
            }
        }
    }
    flooders.clear();
    std::printf("storm: %d connections opened and dropped, %d cut off halfway (%d connected), %d "
                "metadata messages offered\n",
                dropped, half_written, connected, flooded);
    EXPECT_EQ(dropped, kDroppedConnections);
    EXPECT_EQ(half_written, kHalfWrittenConnections);
    EXPECT_GT(connected, dropped);

    expect_receiver_lost_nothing(*receiver, receiver_seconds, kMinFps);
    // The sender takes a new receiver once the storm has passed.
    auto after = start_program_receiver(4);
    ASSERT_EQ(after->wait(60s), 0) << after->output();
    EXPECT_FALSE(vantor::test::program_seconds(after->output()).empty()) << after->output();
    expect_clean_stop();
}

}  // namespace
