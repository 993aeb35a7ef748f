// VISCA over IP and the proprietary channel of the running encoder application on a temporary
// board, driven through real UDP sockets on a loopback address of the test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "camcontrol/voip_framing.h"
#include "support/child_process.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"
#include "voip_board.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::Bytes;
using vantor::test::hex;
using vantor::test::VoipBoard;
using vantor::test::VoipController;
using vantor::test::wait_until;

constexpr uint16_t kVoipPort = 52381;
constexpr uint16_t kVtipPort = 420;
constexpr auto kReply = 2s;
constexpr const char* kZoomInquiry = "81 09 04 47 FF";

// A datagram: header text ("01 00 00 05 00 00 00 2A") and payload text.
Bytes datagram(const std::string& header, const std::string& payload = {})
{
    Bytes bytes = hex(header);
    const Bytes tail = hex(payload);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

// A datagram of `type` with sequence number `sequence` carrying `payload`.
Bytes framed(uint16_t type, uint32_t sequence, const std::string& payload)
{
    const Bytes message = hex(payload);
    Bytes bytes(VOIP_HEADER_LENGTH);
    voip_write_header(type, static_cast<uint16_t>(message.size()), sequence, bytes.data());
    bytes.insert(bytes.end(), message.begin(), message.end());
    return bytes;
}

std::string text(const std::optional<Bytes>& bytes)
{
    return bytes ? hex(*bytes) : "(nothing)";
}

std::vector<std::string> texts(const std::vector<Bytes>& datagrams)
{
    std::vector<std::string> out;
    for (const Bytes& bytes : datagrams) {
        out.push_back(hex(bytes));
    }
    return out;
}

class VoipApp : public ::testing::Test {
protected:
    explicit VoipApp(std::vector<std::string> camera_options = {})
        : address(vantor::test::own_loopback_address()),
          camera_address(ipv4(address)),
          board(address, {}, std::move(camera_options))
    {
    }
    static in_addr ipv4(const std::string& text)
    {
        in_addr parsed{};
        ::inet_pton(AF_INET, text.c_str(), &parsed);
        return parsed;
    }
    void SetUp() override
    {
        ASSERT_TRUE(board.camera.ready());
        ASSERT_TRUE(board.encoder.ready());
        ASSERT_TRUE(board.start_app(camera_address)) << board.app_output();
    }
    void TearDown() override { EXPECT_EQ(board.stop_app(), 0) << board.app_output(); }

    int count_in_history(const std::string& packet)
    {
        const auto history = board.camera.history();
        return static_cast<int>(std::count(history.begin(), history.end(), packet));
    }

    std::string address;
    in_addr camera_address;
    VoipBoard board;
    VoipController controller{camera_address, kVoipPort};
};

// The example exchanges, byte for byte; a command as inquiry type is still executed.
TEST_F(VoipApp, AnswersCommandsControlAndBlockInquiryByteForByte)
{
    EXPECT_NE(board.app_output().find("IP-setup discovery is off: the services listen on loopback"),
              std::string::npos);

    controller.send(datagram("01 00 00 05 00 00 00 2A", "81 01 04 00 02 FF"));
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 2A 90 41 FF");
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 2A 90 51 FF");

    controller.send(datagram("02 00 00 01 00 00 00 07 01"));
    EXPECT_EQ(text(controller.receive(kReply)), "02 01 00 01 00 00 00 07 01");

    board.camera.ok("clear");
    controller.send(framed(VOIP_VISCA_INQUIRY, 0x01020304, "81 01 04 07 02 FF"));
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 01 02 03 04 90 41 FF");
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 01 02 03 04 90 51 FF");
    EXPECT_EQ(count_in_history("81 01 04 07 02 FF"), 1);

    controller.send(framed(VOIP_VISCA_INQUIRY, 9, "81 09 7E 7E EE FF"));
    const auto block = controller.receive(kReply);
    ASSERT_TRUE(block);
    ASSERT_EQ(block->size(), 103U);
    EXPECT_EQ(hex(Bytes(block->begin(), block->begin() + 11)), "01 11 00 5B 00 00 00 09 90 50 EE");
    EXPECT_EQ(hex(Bytes(block->end() - 3, block->end())), "A5 5A FF");
}

// Controllers open a session with IF_Clear and the version inquiry as device-setting messages:
// IF_Clear gets the camera's 90 50 FF, once on the line (no retry), and no acknowledgement.
TEST_F(VoipApp, DeviceSettingMessagesOpenASession)
{
    board.camera.ok("clear");
    controller.send(framed(VOIP_DEVICE_SETTING, 1, "81 01 00 01 FF"));
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 01 90 50 FF");
    controller.send(framed(VOIP_DEVICE_SETTING, 2, "81 09 00 02 FF"));
    EXPECT_EQ(text(controller.receive(kReply)),
              "01 11 00 0A 00 00 00 02 90 50 00 20 07 11 01 00 02 FF");
    EXPECT_EQ(count_in_history("81 01 00 01 FF"), 1);
}

// Datagrams that must not be acted on: nothing is answered and nothing reaches the camera.
TEST_F(VoipApp, OtherCamerasAndMalformedDatagramsAreNotActedOn)
{
    const Bytes garbage(VOIP_DATAGRAM_MAX, 0x5A);
    const std::vector<Bytes> rows = {
        framed(VOIP_VISCA_COMMAND, 1, "82 01 04 07 03 FF"),                 // camera 2
        framed(VOIP_VISCA_INQUIRY, 2, "82 09 04 47 FF"),                    // camera 2
        framed(0x0300, 3, "81 01 04 07 03 FF"),                             // unknown type
        hex("01 00 00"),                                                    // no header
        framed(0x0300, 3, "81 01 04 07 03 FF"),
        hex("01 00 00 05 00 00 00 04"),                                     // header alone
        framed(VOIP_VISCA_COMMAND, 5, "81 01 04 07 03 00 00 00 00 00 00 00 00 00 00 00 00 FF"),
        framed(VOIP_VISCA_COMMAND, 6, "81 01 04 07 03 00 00 00 00 00 00 00 00 00 00 00"),
        garbage,
        // The bytes after this short payload were an FF of the datagram before.
        framed(0x0300, 7, "81 01 04 07 03 FF"),
        framed(VOIP_VISCA_COMMAND, 8, "81 01 04 07"),
    };
    // One after the other: each finds the bytes of the one before in the receive buffer.
    for (const Bytes& row : rows) {
        controller.send(row);
    }
    std::vector<Bytes> before;
    ASSERT_TRUE(controller.barrier(100, &before));
    EXPECT_EQ(texts(before), std::vector<std::string>{});
    for (const std::string& packet : board.camera.history()) {
        EXPECT_EQ(packet.rfind("81 01 04 07 03", 0), std::string::npos) << packet;
        EXPECT_EQ(packet.rfind("82 ", 0), std::string::npos) << packet;
    }
}

// An acknowledged command that the camera does not complete gets no completion.
TEST_F(VoipApp, CommandIsNotCompletedWhenTheCameraDoesNotComplete)
{
    for (const char* fault : {"nocomp 1", "error 2", "silent 2"}) {
        ASSERT_TRUE(board.camera.ok(fault)) << fault;
        controller.send(framed(VOIP_VISCA_COMMAND, 1, "81 01 04 07 00 FF"));
        EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 01 90 41 FF") << fault;
        std::vector<Bytes> before;
        ASSERT_TRUE(controller.barrier(2, &before)) << fault;
        EXPECT_EQ(texts(before), std::vector<std::string>{}) << fault;
        ASSERT_TRUE(board.camera.ok("normal"));
    }
}

// Inquiries get the camera's reply; the position inquiries only a reply of their full length.
TEST_F(VoipApp, InquiriesAreAnsweredWithTheCameraReply)
{
    ASSERT_TRUE(board.camera.ok("set zoom 4000"));
    ASSERT_TRUE(board.camera.ok("set pan -100"));
    ASSERT_TRUE(board.camera.ok("set tilt 300"));
    controller.send(framed(VOIP_VISCA_INQUIRY, 1, kZoomInquiry));
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 07 00 00 00 01 90 50 00 0F 0A 00 FF");
    controller.send(framed(VOIP_VISCA_INQUIRY, 2, "81 09 06 12 FF"));
    EXPECT_EQ(text(controller.receive(kReply)),
              "01 11 00 0B 00 00 00 02 90 50 0F 0F 09 0C 00 01 02 0C FF");

    struct Row {
        const char* inquiry;
        const char* reply;  // put on the line by the camera instead of its own
        bool answered;
    };
    const Row rows[] = {
        {kZoomInquiry, "90 50 01 02 FF", false},
        {kZoomInquiry, "90 50 01 02 03 04 FF", true},
        {"81 09 06 12 FF", "90 50 01 02 03 04 FF", false},
        {"81 09 06 12 FF", "90 50 01 02 03 04 05 06 07 08 FF", true},
    };
    uint32_t sequence = 10;
    for (const Row& row : rows) {
        board.camera.ok("clear");
        ASSERT_TRUE(board.camera.ok("silent 1"));
        controller.send(framed(VOIP_VISCA_INQUIRY, ++sequence, row.inquiry));
        ASSERT_TRUE(wait_until([&] { return count_in_history(row.inquiry) == 1; }, 2000ms));
        ASSERT_TRUE(board.camera.ok(std::string("send ") + row.reply));
        std::vector<Bytes> before;
        ASSERT_TRUE(controller.barrier(++sequence, &before));
        const std::vector<std::string> expected =
            row.answered ? std::vector<std::string>{hex(framed(VOIP_VISCA_REPLY, sequence - 1,
                                                               row.reply))}
                         : std::vector<std::string>{};
        EXPECT_EQ(texts(before), expected) << row.inquiry << " / " << row.reply;
        ASSERT_TRUE(board.camera.ok("normal"));
    }
}

}  // namespace
