// UDP floods at the camera-control ports from the studio side while the camera streams: random
// datagrams and datagrams that are almost right (a real header or enquiry with a byte changed, cut
// short or lengthened). The stream to a well-behaved receiver loses no picture, the encoder
// application's CPU time stays bounded, and VISCA over IP answers real commands afterwards.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "camera_board.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::CameraBoardTest;
using Bytes = std::vector<uint8_t>;

// Bounded in count and in time, whichever ends first.
constexpr int kDatagramsPerPort = 100000;
constexpr auto kFloodTime = 8s;
// The encoder application streams on its own threads; a flood that made a service spin would
// add a whole core (streaming alone costs about 0.03 s a second, the flood about 0.1 more).
constexpr double kCpuPerWallSecond = 1.0;
// 720p59.94 to a receiver that keeps up; loose, for the sanitizer builds.
constexpr double kMinFps = 40.0;

// VISCA payloads the camera-control services know; the flood mutates them.
const std::vector<Bytes> kPayloads = {
    {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF},                    // zoom stop
    {0x81, 0x09, 0x04, 0x47, 0xFF},                          // zoom position?
    {0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF},  // pan/tilt stop
    {0x81, 0x09, 0x7E, 0x7E, 0xEE, 0xFF},                    // block inquiry
    {0x01},                                                  // control reset
};
// VISCA-over-IP payload types: command, inquiry, device setting, control, control reply.
const std::vector<uint16_t> kPayloadTypes = {0x0100, 0x0110, 0x0120, 0x0200, 0x0201};
const std::string kEnquiry = std::string("\x02") + "ENQ:network\xFF\x03";

class Mutator {
public:
    explicit Mutator(uint32_t seed) : m_random(seed) {}

    Bytes random_datagram()
    {
        // Mostly small, now and then one that needs IP fragments.
        const size_t size = pick(10) == 0 ? pick(9000) : pick(64);
        Bytes bytes(size);
        for (uint8_t& byte : bytes) {
            byte = static_cast<uint8_t>(pick(256));
        }
        return bytes;
    }

    // A VISCA-over-IP datagram with a real header and payload but for one change: a byte of the
    // payload replaced, the payload cut short or lengthened, or a length field that does not match.
    Bytes almost_visca()
    {
        Bytes payload = kPayloads[pick(kPayloads.size())];
        const uint16_t type = kPayloadTypes[pick(kPayloadTypes.size())];
        const bool wrong_length = pick(4) == 0;
        if (!wrong_length) {
            mutate(payload);
        }
        const size_t length = wrong_length ? pick(0x10000) : payload.size();
        Bytes datagram = {static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type),
                          static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
        const auto sequence = static_cast<uint32_t>(m_random());
        for (int shift = 24; shift >= 0; shift -= 8) {
            datagram.push_back(static_cast<uint8_t>(sequence >> shift));
        }
        datagram.insert(datagram.end(), payload.begin(), payload.end());
        return datagram;
    }

    // The discovery enquiry with one change.
    Bytes almost_enquiry()
    {
        Bytes bytes(kEnquiry.begin(), kEnquiry.end());
        mutate(bytes);
        return bytes;
    }

private:
    // One change: a byte replaced, the end cut off, or up to 16 bytes inserted.
    void mutate(Bytes& bytes)
    {
        switch (pick(3)) {
        case 0:
            bytes[pick(bytes.size())] = static_cast<uint8_t>(pick(256));
            break;
        case 1:
            bytes.resize(pick(bytes.size()));
            break;
        default:
            bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(pick(bytes.size() + 1)),
                         1 + pick(16), static_cast<uint8_t>(pick(256)));
            break;
        }
    }

    size_t pick(size_t bound)
    {
        return std::uniform_int_distribution<size_t>(0, bound - 1)(m_random);
    }
    std::mt19937 m_random;
};

class UdpFloodTest : public CameraBoardTest {};

TEST_F(UdpFloodTest, CameraStreamsOnAndAnswersViscaAfterFloodsOfAllThreePorts)
{
    const int receiver_seconds = 2 * static_cast<int>(kFloodTime.count()) + 10;
    auto receiver = start_program_receiver(receiver_seconds);
    ASSERT_TRUE(wait_receiver_connected(*receiver)) << receiver->output();
    ASSERT_TRUE(visca_all_answered({"zoom-pos?"}, 1)) << "no VISCA over IP before the flood";

    const vantor::UniqueFd socket = studio_socket(SOCK_DGRAM);
    ASSERT_TRUE(socket);
    sockaddr_in camera{};
    camera.sin_family = AF_INET;
    ASSERT_EQ(::inet_pton(AF_INET, camera_address().c_str(), &camera.sin_addr), 1);

    const uint32_t seed = std::random_device{}();
    RecordProperty("seed", static_cast<int>(seed));
    Mutator mutator(seed);
    // The encoder application's own CPU time while it streams, over as long a time as the flood.
    const vantor::test::ProcessSample idle = vantor::test::sample_process(encoder_pid());
    std::this_thread::sleep_for(kFloodTime);
    const vantor::test::ProcessSample before = vantor::test::sample_process(encoder_pid());
    const auto start = std::chrono::steady_clock::now();
    const uint16_t ports[] = {vantor::test::kViscaPort, vantor::test::kSearchPort,
                              vantor::test::kControlChannelPort};
    int sent = 0;
    for (int i = 0; i < kDatagramsPerPort && std::chrono::steady_clock::now() - start < kFloodTime;
         ++i) {
        for (const uint16_t port : ports) {
            const bool random = i % 2 == 0;
            const Bytes datagram = random                              ? mutator.random_datagram()
                                   : port == vantor::test::kSearchPort ? mutator.almost_enquiry()
                                                                       : mutator.almost_visca();
            camera.sin_port = htons(port);
            // The socket does not block: a full send buffer waits for room, briefly.
            pollfd room{socket.get(), POLLOUT, 0};
            (void)::poll(&room, 1, 10);
            if (::sendto(socket.get(), datagram.data(), datagram.size(), 0,
                         reinterpret_cast<const sockaddr*>(&camera), sizeof camera) >= 0) {
                ++sent;
            }
        }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const vantor::test::ProcessSample after = vantor::test::sample_process(encoder_pid());
    ASSERT_TRUE(after.alive) << "encoder-app ended during the flood:\n" << m_script->output();
    const double cpu = after.cpu_seconds - before.cpu_seconds;
    const double streaming =
        (before.cpu_seconds - idle.cpu_seconds) / std::chrono::duration<double>(kFloodTime).count();
    std::printf("flood: %d datagrams in %.1f s (seed %u); encoder-app CPU %.2f s per s (%.2f "
                "while only streaming)\n",
                sent, wall, seed, cpu / wall, streaming);
    EXPECT_GT(sent, 3 * 1000);
    EXPECT_LT(cpu, kCpuPerWallSecond * wall);

    // Whatever the flood left queued at the services is worked off first; from then on real
    // commands are answered within visca-ip's normal time-out.
    EXPECT_TRUE(wait_visca_answered(60s));
    std::string visca;
    EXPECT_TRUE(visca_all_answered({"zoom-stop"}, 20, &visca)) << visca;
    EXPECT_TRUE(visca_all_answered({"zoom-pos?"}, 20, &visca)) << visca;

    expect_receiver_lost_nothing(*receiver, receiver_seconds, kMinFps);
    expect_clean_stop();
}

}  // namespace
