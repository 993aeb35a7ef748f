// The engine's transaction rules against a camera scripted by the test on a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "engine_fixture.h"
#include "fake_camera.h"
#include "support/temp_board_root.h"
#include "visca/visca.h"

namespace {

using vantor::test::ack_packet;
using vantor::test::Bytes;
using vantor::test::completion_packet;
using vantor::test::syntax_error_packet;
using vantor::test::TempBoardRoot;
using namespace std::chrono_literals;

class ViscaEngine : public vantor::test::EngineOnFakeCamera {
protected:
    static visca_command make_command(std::initializer_list<uint8_t> bytes)
    {
        visca_command cmd;
        std::memcpy(cmd.cmd, bytes.begin(), bytes.size());
        cmd.cmd_length = static_cast<int>(bytes.size());
        return cmd;
    }
};

const Bytes kZoomStop = {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF};

TEST_F(ViscaEngine, AcknowledgedAndCompletedCommandIsWrittenOnce)
{
    camera->respond([](const Bytes&, size_t) {
        return std::vector<Bytes>{ack_packet(), completion_packet()};
    });
    visca_command cmd = make_command({0x88, 0x01, 0x04, 0x07, 0x00, 0xFF});
    cmd.cmd_fill = true;
    engine.visca_exec_cmd(cmd);
    EXPECT_TRUE(cmd.ack);
    EXPECT_TRUE(cmd.comp);
    EXPECT_FALSE(cmd.cmd_fill);
    // The address byte is the camera's, whatever the packet held.
    EXPECT_EQ(camera->packets(), std::vector<Bytes>{kZoomStop});
}

TEST_F(ViscaEngine, SyntaxErrorFirstThenAcknowledgedRetry)
{
    camera->respond([](const Bytes&, size_t index) {
        if (index == 0) {
            return std::vector<Bytes>{syntax_error_packet()};
        }
        return std::vector<Bytes>{ack_packet(), completion_packet()};
    });
    visca_command cmd = make_command({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    engine.visca_exec_cmd(cmd);
    EXPECT_TRUE(cmd.ack);
    EXPECT_TRUE(cmd.comp);
    EXPECT_EQ(camera->packets(), (std::vector<Bytes>{kZoomStop, kZoomStop}));
}

TEST_F(ViscaEngine, SilentCameraGetsTwoWritesAndNoFlags)
{
    visca_command cmd = make_command({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    const auto start = std::chrono::steady_clock::now();
    engine.visca_exec_cmd(cmd);
    // Two attempts of 200 polls 1 ms apart: at least 400 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_FALSE(cmd.ack);
    EXPECT_FALSE(cmd.comp);
    EXPECT_EQ(camera->packets().size(), 2U);
}

TEST_F(ViscaEngine, NoRetryAfterAcknowledgementWithoutCompletion)
{
    camera->respond([](const Bytes&, size_t) { return std::vector<Bytes>{ack_packet()}; });
    visca_command cmd = make_command({0x81, 0x01, 0x06, 0x04, 0xFF});
    engine.visca_exec_cmd(cmd);
    EXPECT_TRUE(cmd.ack);
    EXPECT_FALSE(cmd.comp);
    EXPECT_EQ(camera->packets().size(), 1U);
}

TEST_F(ViscaEngine, CompletionArrivingWithAnotherPacketIsNotTaken)
{
    camera->respond([](const Bytes&, size_t) {
        return std::vector<Bytes>{{0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF, 0x90, 0x50, 0x00, 0xFF}};
    });
    visca_command cmd = make_command({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    engine.visca_exec_cmd(cmd);
    EXPECT_TRUE(cmd.ack);
    EXPECT_FALSE(cmd.comp);
}

TEST_F(ViscaEngine, StaleInputIsFlushedBeforeEachTransaction)
{
    // A late completion and a stray reply wait in the queue before the transaction starts.
    ASSERT_TRUE(camera->inject({0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF, 0x90, 0x50, 0x07, 0xFF}));
    camera->respond([](const Bytes& packet, size_t) {
        if (packet[1] == 0x09) {
            return std::vector<Bytes>{{0x90, 0x50, 0x02, 0xFF}};
        }
        return std::vector<Bytes>{};  // commands: no answer
    });
    visca_inq_command inq;
    visca::create_inqcommand(inq, 0, 0x04, 0x15, 0);
    engine.visca_exec_inq_cmd(inq);
    ASSERT_TRUE(inq.inq_fill);
    EXPECT_EQ(inq.inq[2], 0x02);

    ASSERT_TRUE(camera->inject({0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF}));
    visca_command cmd = make_command({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    engine.visca_exec_cmd(cmd);
    EXPECT_FALSE(cmd.ack);  // the stale acknowledgement is not taken for this command's
    EXPECT_FALSE(cmd.comp);
}

TEST_F(ViscaEngine, InquiryReplyIsCollectedWhole)
{
    camera->respond([](const Bytes&, size_t) {
        return std::vector<Bytes>{{0x90, 0x50, 0x02, 0xFF}};
    });
    visca_inq_command inq;
    visca::create_inqcommand(inq, 0, 0x04, 0x00, 0);
    inq.cmd_fill = true;
    engine.visca_exec_inq_cmd(inq);
    EXPECT_TRUE(inq.inq_fill);
    EXPECT_FALSE(inq.cmd_fill);
    ASSERT_EQ(inq.inq_length, 4);
    EXPECT_EQ(Bytes(inq.inq, inq.inq + 4), (Bytes{0x90, 0x50, 0x02, 0xFF}));
    EXPECT_EQ(camera->packets().size(), 1U);
}

TEST_F(ViscaEngine, InquiryAnsweredWithAcknowledgementIsSentAgain)
{
    camera->respond([](const Bytes&, size_t index) {
        if (index == 0) {
            return std::vector<Bytes>{ack_packet()};
        }
        return std::vector<Bytes>{{0x90, 0x50, 0x03, 0xFF}};
    });
    visca_inq_command inq;
    visca::create_inqcommand(inq, 0, 0x04, 0x75, 0);
    engine.visca_exec_inq_cmd(inq);
    EXPECT_TRUE(inq.inq_fill);
    EXPECT_EQ(inq.inq[2], 0x03);
    EXPECT_EQ(camera->packets().size(), 2U);
}

TEST_F(ViscaEngine, InquiryAnsweredWithAnErrorTwiceFails)
{
    camera->respond([](const Bytes&, size_t) { return std::vector<Bytes>{syntax_error_packet()}; });
    visca_inq_command inq;
    visca::create_inqcommand(inq, 0, 0x04, 0x75, 0);
    inq.inq_length = 9;
    engine.visca_exec_inq_cmd(inq);
    EXPECT_FALSE(inq.inq_fill);
    EXPECT_EQ(inq.inq_length, 0);
    EXPECT_EQ(camera->packets().size(), 2U);
}

TEST_F(ViscaEngine, ReplyNotFromTheCameraIsRejectedAtOnce)
{
    camera->respond([](const Bytes&, size_t) {
        return std::vector<Bytes>{{0xA0, 0x50, 0x01, 0xFF}};
    });
    visca_inq_command inq;
    visca::create_inqcommand(inq, 0, 0x04, 0x75, 0);
    engine.visca_exec_inq_cmd(inq);
    EXPECT_FALSE(inq.inq_fill);
    EXPECT_EQ(camera->packets().size(), 2U);
}

TEST_F(ViscaEngine, OverlongReplyIsDiscardedNeverStoredPastTheBuffer)
{
    // 20 bytes before the FF. The fields that follow inq in the record are the first an overrun
    // would hit: they must keep their values.
    visca_inq_command inq;
    visca::create_inqcommand(inq, 1, 0x04, 0x24, 0x72);
    inq.cliaddr.sin_port = 0x5A5A;
    inq.cliaddr.sin_addr.s_addr = 0xA5A5A5A5;
    inq.sockfd = 0x3C3C3C3C;
    inq.sequence_number = 0xC3C3C3C3;
    camera->respond([](const Bytes&, size_t index) {
        if (index == 0) {
            Bytes longer{0x90, 0x50};
            longer.insert(longer.end(), 20, 0x01);
            longer.push_back(0xFF);
            return std::vector<Bytes>{longer};
        }
        return std::vector<Bytes>{{0x90, 0x50, 0x01, 0x04, 0xFF}};
    });
    engine.visca_exec_inq_cmd(inq);
    // The over-long reply failed the first attempt; the resend got a proper reply.
    EXPECT_EQ(camera->packets().size(), 2U);
    EXPECT_TRUE(inq.inq_fill);
    EXPECT_EQ(inq.inq_length, 5);
    EXPECT_EQ(inq.cliaddr.sin_port, 0x5A5A);
    EXPECT_EQ(inq.cliaddr.sin_addr.s_addr, 0xA5A5A5A5U);
    EXPECT_EQ(inq.sockfd, 0x3C3C3C3C);
    EXPECT_EQ(inq.sequence_number, 0xC3C3C3C3U);

    // Over-long both times: the transaction fails.
    camera->respond([](const Bytes&, size_t) {
        Bytes longer{0x90, 0x50};
        longer.insert(longer.end(), 30, 0x02);
        longer.push_back(0xFF);
        return std::vector<Bytes>{longer};
    });
    engine.visca_exec_inq_cmd(inq);
    EXPECT_FALSE(inq.inq_fill);
    EXPECT_EQ(inq.inq_length, 0);
    EXPECT_EQ(inq.sockfd, 0x3C3C3C3C);
    EXPECT_EQ(inq.sequence_number, 0xC3C3C3C3U);
}

TEST_F(ViscaEngine, TableDrainSendsOnlyTheLastWriteToASlotInOrder)
{
    camera->respond([](const Bytes&, size_t) {
        return std::vector<Bytes>{ack_packet(), completion_packet()};
    });
    engine.vid_fmt_switch = true;  // holds the drain: both producer sections land in one buffer
    {
        int index = -1;
        const auto lock = engine.lock_capture_buffer(index);
        visca_command& zoom = engine.cam_zoom_direct[index];
        zoom.cmd[4] = 0x01;
        zoom.cmd[5] = 0x04;
        zoom.cmd_fill = true;
        engine.cam_pt_stop_command[index].cmd_fill = true;
    }
    engine.notify_captured();
    {
        // A second producer section writes the same slot with other bytes before the drain.
        int index = -1;
        const auto lock = engine.lock_capture_buffer(index);
        visca_command& zoom = engine.cam_zoom_direct[index];
        zoom.cmd[4] = 0x02;
        zoom.cmd[5] = 0x0A;
        zoom.cmd_fill = true;
        engine.cam_misc[index].cmd[4] = 0x02;
        engine.cam_misc[index].cmd_fill = true;
    }
    engine.notify_captured();
    engine.vid_fmt_switch = false;
    ASSERT_TRUE(camera->wait_for_packets(3, 10s));
    const std::vector<Bytes> sent = camera->packets();
    ASSERT_EQ(sent.size(), 3U);
    EXPECT_EQ(sent[0], (Bytes{0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF}));
    EXPECT_EQ(sent[1], (Bytes{0x81, 0x01, 0x04, 0x47, 0x02, 0x0A, 0x03, 0x03, 0xFF}));
    EXPECT_EQ(sent[2], (Bytes{0x81, 0x01, 0x04, 0x00, 0x02, 0xFF}));
}

TEST_F(ViscaEngine, DrainAlternatesBuffersAndClearsPendingFlags)
{
    camera->respond([](const Bytes&, size_t) {
        return std::vector<Bytes>{ack_packet(), completion_packet()};
    });
    for (uint8_t round = 1; round <= 3; ++round) {
        int index = -1;
        {
            const auto lock = engine.lock_capture_buffer(index);
            engine.cam_zoom_speed[index].cmd[4] = static_cast<uint8_t>(0x20 + round);
            engine.cam_zoom_speed[index].cmd_fill = true;
        }
        engine.notify_captured();
        ASSERT_TRUE(camera->wait_for_packets(round, 10s));
        EXPECT_EQ(camera->packets().back()[4], 0x20 + round);
    }
    // The engine drains on a capture and then waits: no swaps of empty buffers, and sent slots
    // are no longer pending in either buffer, so nothing goes out again.
    EXPECT_FALSE(camera->wait_for_packets(4, 300ms));
    EXPECT_EQ(engine.exec_swap_count.load(), 3U);
    EXPECT_FALSE(engine.captured_not_taken());
}

TEST_F(ViscaEngine, AFormatChangeHoldsTheRestOfADrainAndTheOneshotTriggerWaitsOnTheLine)
{
    // The format change begins while the first command of the drain is on the line.
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    camera->respond([&](const Bytes&, size_t index) {
        arrivals.push_back(std::chrono::steady_clock::now());
        if (index == 0) {
            engine.vid_fmt_switch = true;
        }
        return std::vector<Bytes>{ack_packet(), completion_packet()};
    });
    {
        int index = -1;
        const auto lock = engine.lock_capture_buffer(index);
        engine.cam_zoom_stop[index].cmd_fill = true;
        engine.cam_wb_mode[index].cmd[4] = 0x03;
        engine.cam_wb_mode[index].cmd_fill = true;
        engine.cam_wb_one_push_trig[index].cmd_fill = true;
    }
    engine.notify_captured();
    ASSERT_TRUE(camera->wait_for_packets(1, 10s));
    EXPECT_FALSE(camera->wait_for_packets(2, 300ms)) << "the drain went on during the change";
    engine.vid_fmt_switch = false;
    ASSERT_TRUE(camera->wait_for_packets(3, 10s));
    const std::vector<Bytes> sent = camera->packets();
    EXPECT_EQ(sent[1], (Bytes{0x81, 0x01, 0x04, 0x35, 0x03, 0xFF}));
    EXPECT_EQ(sent[2], (Bytes{0x81, 0x01, 0x04, 0x10, 0x05, 0xFF}));
    // The camera needs 30 ms between the one-push mode and its trigger.
    ASSERT_EQ(arrivals.size(), 3U);
    EXPECT_GE(arrivals[2] - arrivals[1], 30ms);
}

TEST_F(ViscaEngine, StoppingWakesAnEngineBlockedOnItsEvent)
{
    // No producer ever notifies: the engine thread waits on its event until it is stopped.
    engine.m_visca_ndi_event_cond = false;
    engine.deinit_visca();
    EXPECT_FALSE(engine.exec_visca_thread.joinable());
    EXPECT_EQ(engine.cam_fd, -1);
}

TEST_F(ViscaEngine, ClosedLineFailsAtOnce)
{
    engine.deinit_visca();
    visca_command cmd = make_command({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    engine.visca_exec_cmd(cmd);
    EXPECT_FALSE(cmd.ack);
    visca_inq_command inq;
    visca::create_inqcommand(inq, 0, 0x04, 0x00, 0);
    engine.visca_exec_inq_cmd(inq);
    EXPECT_FALSE(inq.inq_fill);
    EXPECT_TRUE(camera->packets().empty());
}

TEST(ViscaLine, MissingDeviceStartsNoThread)
{
    TempBoardRoot board;
    visca engine;
    EXPECT_EQ(engine.init_visca(), 0);
    EXPECT_FALSE(engine.exec_visca_thread.joinable());
    EXPECT_EQ(engine.cam_fd, -1);
    EXPECT_FALSE(engine.visca_r8t_init());
}

TEST(ViscaLine, ProducersWaitForABufferTakenOverByTheEngine)
{
    // The index a producer read may be swapped before it locks; it must end up writing into the
    // buffer that is the capture buffer while it holds the lock.
    visca engine;
    engine.init_visca_command();
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop) {
            engine.switch_ndi_exebuff();
        }
    });
    for (int i = 0; i < 2000; ++i) {
        int index = -1;
        const auto lock = engine.lock_capture_buffer(index);
        ASSERT_EQ(index, engine.cap_cmd_index.load());
        engine.cam_misc[index].cmd_fill = true;
    }
    stop = true;
    swapper.join();
}

}  // namespace
