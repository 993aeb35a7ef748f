// VISCA over IP and the proprietary channel of the running encoder application on a temporary
// board, driven through real UDP sockets on a loopback address of the test's own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "camcontrol/Camcontrol.h"
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
    out.reserve(datagrams.size());
    for (const Bytes& bytes : datagrams) {
        out.push_back(hex(bytes));
    }
    return out;
}

class VoipApp : public ::testing::Test {
protected:
    explicit VoipApp(const std::vector<std::string>& camera_options = {})
        : address(vantor::test::own_loopback_address()),
          camera_address(vantor::test::ipv4(address)), board(address, {}, camera_options)
    {
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
    // The camera delivers its replies in receive-FIFO bursts unless a test asks otherwise.
    EXPECT_EQ(board.camera.state()["strict"], "1");

    controller.send(hex("01 00 00 05 00 00 00 2A 81 01 04 00 02 FF"));
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 2A 90 41 FF");
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 2A 90 51 FF");

    controller.send(hex("02 00 00 01 00 00 00 07 01"));
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
        framed(VOIP_VISCA_COMMAND, 1, "82 01 04 07 03 FF"),  // camera 2
        framed(VOIP_VISCA_INQUIRY, 2, "82 09 04 47 FF"),     // camera 2
        framed(0x0300, 3, "81 01 04 07 03 FF"),              // unknown type
        hex("01 00 00"),                                     // no header
        framed(0x0300, 3, "81 01 04 07 03 FF"),
        hex("01 00 00 05 00 00 00 04"),  // header alone
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

// An acknowledged command that the camera does not complete gets no completion; one it refuses
// gets its error. The faults last until "normal" (other threads' packets may come between), which
// follows once the camera has seen every attempt: one when acknowledged, two when the first was
// not.
TEST_F(VoipApp, CommandIsNotCompletedWhenTheCameraDoesNotComplete)
{
    struct Row {
        const char* fault;
        int attempts;
        std::vector<std::string> after_ack;
    };
    const Row faults[] = {{"nocomp", 1, {}},
                          {"error", 2, {"01 11 00 04 00 00 00 01 90 60 02 FF"}},
                          {"silent", 2, {}}};
    for (const auto& [fault, attempts, after_ack] : faults) {
        ASSERT_TRUE(board.camera.ok("clear"));
        ASSERT_TRUE(board.camera.ok(fault)) << fault;
        controller.send(framed(VOIP_VISCA_COMMAND, 1, "81 01 04 07 00 FF"));
        EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 01 90 41 FF") << fault;
        EXPECT_TRUE(wait_until(
            [&, n = attempts] { return count_in_history("81 01 04 07 00 FF") == n; }, 2000ms))
            << fault;
        ASSERT_TRUE(board.camera.ok("normal"));
        std::vector<Bytes> before;
        ASSERT_TRUE(controller.barrier(2, &before)) << fault;
        EXPECT_EQ(texts(before), after_ack) << fault;
    }
}

// Every request gets its final answer from the camera, with its own sequence number: the
// completion of a move that ends long after the acknowledgement, the error of a refused command
// (after its acknowledgement) or inquiry (sent once: an error is not asked again).
TEST_F(VoipApp, EveryRequestGetsTheCameraFinalAnswer)
{
    struct Row {
        const char* request;
        std::vector<std::string> replies;  // payloads, in order
        int times_on_line;
    };
    const Row rows[] = {
        // Direct zoom from 0 to 0x4000 takes the module about 2 s.
        {"81 01 04 47 04 00 00 00 FF", {"90 41 FF", "90 51 FF"}, 1},
        // Zoom drive speed 09 is refused; the command is written twice (no acknowledgement).
        {"81 01 04 07 09 FF", {"90 41 FF", "90 60 02 FF"}, 2},
        {"81 09 04 99 FF", {"90 60 02 FF"}, 1},
    };
    uint32_t sequence = 0x7000;
    for (const Row& row : rows) {
        ASSERT_TRUE(board.camera.ok("set zoom 0"));
        board.camera.ok("clear");
        controller.send(framed(VOIP_VISCA_COMMAND, ++sequence, row.request));
        for (const std::string& reply : row.replies) {
            EXPECT_EQ(text(controller.receive(4000ms)),
                      hex(framed(VOIP_VISCA_REPLY, sequence, reply)))
                << row.request;
        }
        std::vector<Bytes> before;
        ASSERT_TRUE(controller.barrier(++sequence, &before));
        EXPECT_EQ(texts(before), std::vector<std::string>{}) << row.request;
        EXPECT_EQ(count_in_history(row.request), row.times_on_line) << row.request;
    }
}

// Two controllers with long moves at the same time (the module runs them on its two sockets):
// each gets its own completion.
TEST_F(VoipApp, InterleavedLongMovesEachGetTheirOwnCompletion)
{
    ASSERT_TRUE(board.camera.ok("set zoom 0"));
    ASSERT_TRUE(board.camera.ok("set pan 0"));
    const VoipController other(camera_address, kVoipPort);
    controller.send(framed(VOIP_VISCA_COMMAND, 11, "81 01 04 47 04 00 00 00 FF"));
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 0B 90 41 FF");
    // Pan to 1800 at speed 0x0C (1200 units/s): about 1.5 s.
    other.send(framed(VOIP_VISCA_COMMAND, 22, "81 01 06 02 0C 0C 00 07 00 08 00 00 00 00 FF"));
    EXPECT_EQ(text(other.receive(kReply)), "01 11 00 03 00 00 00 16 90 41 FF");
    EXPECT_EQ(text(other.receive(4000ms)), "01 11 00 03 00 00 00 16 90 51 FF");
    EXPECT_EQ(text(controller.receive(4000ms)), "01 11 00 03 00 00 00 0B 90 51 FF");
    EXPECT_EQ(text(controller.receive(300ms)), "(nothing)");
    EXPECT_EQ(text(other.receive(0ms)), "(nothing)");
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
        // Silent until the reply is on the line: packets of other threads may come between.
        board.camera.ok("clear");
        ASSERT_TRUE(board.camera.ok("silent"));
        controller.send(framed(VOIP_VISCA_INQUIRY, ++sequence, row.inquiry));
        ASSERT_TRUE(wait_until([&] { return count_in_history(row.inquiry) == 1; }, 2000ms));
        ASSERT_TRUE(board.camera.ok(std::string("send ") + row.reply));
        ASSERT_TRUE(board.camera.ok("normal"));
        std::vector<Bytes> before;
        ASSERT_TRUE(controller.barrier(++sequence, &before));
        const std::vector<std::string> expected =
            row.answered
                ? std::vector<std::string>{hex(framed(VOIP_VISCA_REPLY, sequence - 1, row.reply))}
                : std::vector<std::string>{};
        EXPECT_EQ(texts(before), expected) << row.inquiry << " / " << row.reply;
    }
}

// The block reply carries what the web-UI synchronisation last agreed with the camera.
TEST_F(VoipApp, BlockInquiryReportsTheCameraValues)
{
    for (const char* setting : {"set ExpMode 3", "set RedGain 0x55", "set GammaOffset 272",
                                "set PatternREG 23", "set Effect 0x05210000"}) {
        ASSERT_TRUE(board.camera.ok(setting)) << setting;
    }
    std::optional<Bytes> block;
    uint32_t sequence = 0;
    // The values arrive with the synchronisation's first full cycle and its reconciliations.
    const bool synced = wait_until(
        [&] {
            controller.send(framed(VOIP_VISCA_INQUIRY, ++sequence, "81 09 7E 7E EE FF"));
            block = controller.receive(kReply);
            std::this_thread::sleep_for(200ms);
            return block && block->size() == 103 && (*block)[24] == 0x55 && (*block)[86] == 0x30;
        },
        60000ms);
    ASSERT_TRUE(synced) << text(block);
    const Bytes& reply = *block;
    EXPECT_EQ(reply[11], 0x03);  // exposure mode
    EXPECT_EQ(reply[24], 0x55);  // red gain
    EXPECT_EQ(reply[84], 2);     // gamma pattern 23: tens
    EXPECT_EQ(reply[85], 3);     // and units
    EXPECT_EQ(reply[86], 0x30);  // gamma offset 272: 64 - 272, low byte
    EXPECT_EQ(reply[92], 0x05);  // gamma effect, bits 24-27
    EXPECT_EQ(reply[95], 0x29);  // video format 1080p50
}

class VoipAppSlowFormat : public VoipApp {
protected:
    VoipAppSlowFormat() : VoipApp({"--format-delay", "3000"}) {}
};

// While the camera switches format a command is acknowledged, not executed, and answered not
// executable (90 61 41 FF); an inquiry is not answered.
TEST_F(VoipAppSlowFormat, CommandsDuringAFormatChangeAreAcknowledgedNotExecuted)
{
    vantor::test::write_text(board.board / "/etc/vantor-enc1-settings.json",
                             R"({"VideoFormat":"1080p59.94","VideoSampleRate":"422"})");
    ASSERT_TRUE(board.wait_output("vid_format_change 2a", 10000ms)) << board.app_output();
    board.camera.ok("clear");
    controller.send(framed(VOIP_VISCA_COMMAND, 1, "81 01 04 07 02 FF"));
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 01 90 41 FF");
    EXPECT_EQ(text(controller.receive(kReply)), "01 11 00 04 00 00 00 01 90 61 41 FF");
    controller.send(framed(VOIP_VISCA_INQUIRY, 2, kZoomInquiry));
    ASSERT_TRUE(board.wait_output("START NDI Encode with format 2a", 30000ms));
    std::vector<Bytes> before;
    ASSERT_TRUE(controller.barrier(3, &before));
    EXPECT_EQ(texts(before), std::vector<std::string>{});
    EXPECT_EQ(count_in_history("81 01 04 07 02 FF"), 0);
    EXPECT_EQ(count_in_history(kZoomInquiry), 0);
}

// Back-to-back zoom inquiries from `controller` for `duration`; the time the last reply came.
std::chrono::steady_clock::time_point stream_inquiries(const VoipController& controller,
                                                       std::chrono::milliseconds duration,
                                                       const std::function<void(int)>& each)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    auto last = std::chrono::steady_clock::now();
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
        controller.send(framed(VOIP_VISCA_INQUIRY, static_cast<uint32_t>(1000 + i), kZoomInquiry));
        if (controller.receive(kReply)) {
            last = std::chrono::steady_clock::now();
        }
        each(i);
    }
    return last;
}

// While VISCA-over-IP traffic is active the web-UI thread sends nothing; afterwards it goes on.
TEST_F(VoipApp, WebUIThreadStandsAsideWhileViscaOverIpIsActive)
{
    board.camera.ok("clear");
    stream_inquiries(controller, 2500ms, [](int) {});
    const auto history = board.camera.history();
    // Past the 40th inquiry (about 0.6 s) a step begun before the stream has ended.
    auto from = history.begin();
    for (int seen = 0; from != history.end() && seen < 40; ++from) {
        seen += *from == kZoomInquiry ? 1 : 0;
    }
    const auto last = std::find(history.rbegin(), history.rend(), kZoomInquiry).base();
    ASSERT_LT(from, last);
    for (auto it = from; it != last; ++it) {
        EXPECT_EQ(it->rfind("81 09 7E 7E 1", 0), std::string::npos) << *it;
    }
    // It was standing aside, not stopped: its block inquiries come again.
    const auto streamed = static_cast<std::size_t>(last - history.begin());
    EXPECT_TRUE(wait_until(
        [&] {
            const auto now = board.camera.history();
            return std::any_of(
                now.begin() + static_cast<std::ptrdiff_t>(streamed), now.end(),
                [](const std::string& p) { return p.rfind("81 09 7E 7E 1", 0) == 0; });
        },
        5000ms));
}

// The proprietary channel: commands and the block inquiry only.
TEST_F(VoipApp, ProprietaryChannelAnswersCommandsAndTheBlockInquiryOnly)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "binding UDP port 420 needs root";
    }
    const VoipController vtip(camera_address, kVtipPort);
    vtip.send(framed(VOIP_VISCA_COMMAND, 5, "81 01 04 07 00 FF"));
    EXPECT_EQ(text(vtip.receive(kReply)), "01 11 00 03 00 00 00 05 90 41 FF");
    EXPECT_EQ(text(vtip.receive(kReply)), "01 11 00 03 00 00 00 05 90 51 FF");
    vtip.send(framed(VOIP_VISCA_INQUIRY, 6, kZoomInquiry));
    vtip.send(hex("02 00 00 01 00 00 00 07 01"));
    vtip.send(framed(VOIP_VISCA_INQUIRY, 8, "81 09 7E 7E EE FF"));
    const auto block = vtip.receive(kReply);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->size(), 103U);
    EXPECT_EQ(hex(Bytes(block->begin(), block->begin() + 8)), "01 11 00 5B 00 00 00 08");
    EXPECT_EQ(count_in_history(kZoomInquiry), 0);
}

// A command on the proprietary channel waits in its socket while VISCA over IP is busy, and is
// run once VISCA over IP is idle, unless it waited longer than about a second (stale: dropped).
TEST_F(VoipApp, ProprietaryChannelWaitsWhileViscaOverIpIsBusy)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "binding UDP port 420 needs root";
    }
    const VoipController vtip(camera_address, kVtipPort);
    bool early = false;
    bool stale_sent = false;
    bool fresh_sent = false;
    const auto start = std::chrono::steady_clock::now();
    stream_inquiries(controller, 2000ms, [&](int) {
        const auto into = std::chrono::steady_clock::now() - start;
        if (!stale_sent && into >= 200ms) {
            vtip.send(framed(VOIP_VISCA_COMMAND, 1, "81 01 04 07 00 FF"));
            stale_sent = true;
        }
        if (!fresh_sent && into >= 1700ms) {
            vtip.send(framed(VOIP_VISCA_COMMAND, 2, "81 01 04 08 00 FF"));
            fresh_sent = true;
        }
        early = early || vtip.receive(0ms).has_value();
    });
    EXPECT_FALSE(early);
    EXPECT_EQ(text(vtip.receive(3000ms)), "01 11 00 03 00 00 00 02 90 41 FF");
    EXPECT_EQ(text(vtip.receive(kReply)), "01 11 00 03 00 00 00 02 90 51 FF");
    EXPECT_EQ(count_in_history("81 01 04 07 00 FF"), 0);
}

// Datagrams that are not acted on (junk, other cameras, unknown types), every 20 ms, do not keep
// the activity flag set: the web-UI loop, which stands aside while VISCA over IP is active, goes
// on with its block inquiries meanwhile.
TEST_F(VoipApp, JunkDoesNotHoldTheOtherSourcesOff)
{
    // An executed command first: the flag is set when the junk begins.
    controller.send(framed(VOIP_VISCA_COMMAND, 1, "81 01 04 07 00 FF"));
    ASSERT_EQ(text(controller.receive(kReply)), "01 11 00 03 00 00 00 01 90 41 FF");
    board.camera.ok("clear");
    const std::vector<Bytes> junk = {
        Bytes(40, 0x5A),
        framed(VOIP_VISCA_COMMAND, 2, "82 01 04 07 00 FF"),
        framed(0x0300, 3, "81 01 04 07 00 FF"),
        hex("01 00 00 05 00 00 00 04"),
    };
    const auto end = std::chrono::steady_clock::now() + 2500ms;
    for (std::size_t i = 0; std::chrono::steady_clock::now() < end; ++i) {
        controller.send(junk[i % junk.size()]);
        std::this_thread::sleep_for(20ms);  // the junk's pace
    }
    const auto history = board.camera.history();
    EXPECT_TRUE(std::any_of(history.begin(), history.end(),
                            [](const std::string& p) { return p.rfind("81 09 7E 7E 1", 0) == 0; }));
}

// The visca-ip client against the camera: replies decoded, figures for --repeat, bad arguments.
TEST_F(VoipApp, ViscaIpClientDecodesRepliesAndRefusesBadArguments)
{
    ASSERT_TRUE(board.camera.ok("set zoom 4000"));
    const auto run = [&](const std::vector<std::string>& args) {
        std::vector<std::string> argv = {std::string(VANTOR_BIN_DIR) + "/visca-ip"};
        argv.insert(argv.end(), args.begin(), args.end());
        vantor::test::ChildStreams streams;
        streams.out = {-1, board.board / "/tool.out", O_WRONLY | O_CREAT | O_TRUNC};
        streams.err = {-1, board.board / "/tool.err", O_WRONLY | O_CREAT | O_TRUNC};
        return vantor::test::run_child(argv, streams);
    };
    const auto out = [&] { return vantor::test::read_text(board.board / "/tool.out"); };
    EXPECT_EQ(run({address, "zoom-pos?"}), 0);
    EXPECT_NE(out().find("seq 0  control reply  01"), std::string::npos) << out();
    EXPECT_NE(out().find("seq 1  reply          90 50 00 0F 0A 00 FF: zoom 4000"),
              std::string::npos)
        << out();
    EXPECT_EQ(run({"--repeat", "5", address, "zoom-stop"}), 0);
    EXPECT_NE(out().find("5 requests: 5 answered, 0 lost, 0 errors, 0 foreign replies"),
              std::string::npos)
        << out();
    for (const std::vector<std::string>& bad : {std::vector<std::string>{address, "zz"},
                                                {"--repeat", "0", address, "home"},
                                                {"300.1.1.1", "home"},
                                                {address, "preset-recall", "128"},
                                                {address, "81 01 04"}}) {
        EXPECT_EQ(run(bad), 1) << bad.back();
        const std::string err = vantor::test::read_text(board.board / "/tool.err");
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

}  // namespace

namespace {

// The services bind again after they were stopped: VISCA over IP and the proprietary channel,
// started, stopped and started once more, answer each time.
TEST(VoipServices, RestartBindsAgain)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "binding UDP port 420 needs root";
    }
    const std::string address = vantor::test::own_loopback_address();
    const vantor::test::ScopedEnv bind_address{"VANTOR_BIND_ADDRESS", address};
    Camcontrol control;
    const VoipController voip(vantor::test::ipv4(address), kVoipPort);
    const VoipController vtip(vantor::test::ipv4(address), kVtipPort);
    for (int round = 1; round <= 2; ++round) {
        control.camcontrol_init_voip();
        control.camcontrol_init_vtip();
        voip.send(hex("02 00 00 01 00 00 00 07 01"));
        EXPECT_EQ(text(voip.receive(kReply)), "02 01 00 01 00 00 00 07 01") << round;
        vtip.send(framed(VOIP_VISCA_INQUIRY, 8, "81 09 7E 7E EE FF"));
        const auto block = vtip.receive(kReply);
        EXPECT_TRUE(block && block->size() == 103U) << round;
        control.camcontrol_deinit_vtip();
        control.camcontrol_deinit_voip();
    }
}

}  // namespace
