// The real engine and camera control against the real camera-module simulator on a pty.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "camcontrol/Camcontrol.h"
#include "main/video_format.h"
#include "support/camera_sim.h"
#include "support/count_of.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"
#include "visca/visca.h"

namespace {

using vantor::test::CameraSimProcess;
using vantor::test::count_of;
using vantor::test::TempBoardRoot;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

Bytes reply_of(const visca_inq_command& inq)
{
    return {inq.inq, inq.inq + inq.inq_length};
}

visca_command command_of(std::initializer_list<uint8_t> bytes)
{
    visca_command cmd;
    std::memcpy(cmd.cmd, bytes.begin(), bytes.size());
    cmd.cmd_length = static_cast<int>(bytes.size());
    return cmd;
}

visca_inq_command inquiry_of(std::initializer_list<uint8_t> bytes)
{
    visca_inq_command inq;
    std::memcpy(inq.cmd, bytes.begin(), bytes.size());
    inq.cmd_length = static_cast<int>(bytes.size());
    return inq;
}

class SimulatorBoard : public ::testing::Test {
protected:
    SimulatorBoard()
        : sim((board.make_dir("/dev"), VANTOR_BIN_DIR), board / "/dev/ttyPS1", board / "/sim.sock",
              {"--format-delay", "0", "--strict"})
    {
    }
    void SetUp() override { ASSERT_TRUE(sim.ready()); }

    // Waits until `inquiry` is answered with `expected`.
    bool eventually_reports(visca& engine, std::initializer_list<uint8_t> inquiry,
                            const Bytes& expected, std::chrono::seconds deadline = 20s)
    {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (std::chrono::steady_clock::now() < end) {
            visca_inq_command inq = inquiry_of(inquiry);
            engine.visca_exec_inq_cmd(inq);
            if (inq.inq_fill && reply_of(inq) == expected) {
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // Waits until the simulator has received at least `count` packets.
    bool history_reaches(size_t count, std::chrono::milliseconds deadline)
    {
        return vantor::test::wait_until([&] { return sim.history().size() >= count; }, deadline);
    }

    TempBoardRoot board;
    CameraSimProcess sim;
};

class ViscaOnSimulator : public SimulatorBoard {
protected:
    void SetUp() override
    {
        SimulatorBoard::SetUp();
        ASSERT_EQ(engine.init_visca(), 1);
    }
    void TearDown() override { engine.deinit_visca(); }

    visca engine;
};

TEST_F(ViscaOnSimulator, CommandIsAcknowledgedAndCompletedAtLinePace)
{
    visca_command cmd = command_of({0x81, 0x01, 0x04, 0x39, 0x03, 0xFF});
    const auto start = std::chrono::steady_clock::now();
    engine.visca_exec_cmd(cmd);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(cmd.ack);
    EXPECT_TRUE(cmd.comp);
    // 6 bytes out, 3 + 3 back at 9600 baud: the line itself needs 12.5 ms.
    EXPECT_GE(elapsed, 12ms);
    EXPECT_EQ(sim.history(), std::vector<std::string>{"81 01 04 39 03 FF"});
}

TEST_F(ViscaOnSimulator, ValueSetIsWhatInquiriesAndBlocksReport)
{
    visca_command mode = command_of({0x81, 0x01, 0x04, 0x39, 0x03, 0xFF});
    engine.visca_exec_cmd(mode);
    ASSERT_TRUE(mode.comp);
    visca_inq_command single = inquiry_of({0x81, 0x09, 0x04, 0x39, 0xFF});
    engine.visca_exec_inq_cmd(single);
    EXPECT_EQ(reply_of(single), (Bytes{0x90, 0x50, 0x03, 0xFF}));

    visca_command iris = command_of({0x81, 0x01, 0x04, 0x4B, 0x00, 0x00, 0x00, 0x08, 0xFF});
    engine.visca_exec_cmd(iris);
    visca_inq_command block = inquiry_of({0x81, 0x09, 0x7E, 0x7E, 0x10, 0xFF});
    engine.visca_exec_inq_cmd(block);
    ASSERT_TRUE(block.inq_fill);
    ASSERT_EQ(block.inq_length, 16);
    EXPECT_EQ(block.inq[2], 0x10);
    EXPECT_EQ(block.inq[3], 0x03);   // exposure mode
    EXPECT_EQ(block.inq[12], 0x08);  // iris
    EXPECT_EQ(sim.state().at("ExpMode"), "3");
}

TEST_F(ViscaOnSimulator, EveryBlockInquiryHasSixteenBytes)
{
    for (uint8_t b = 0x10; b <= 0x16; ++b) {
        visca_inq_command block;
        visca::create_inqcommand(block, 1, 0x7E, 0x7E, b);
        // A machine starved for longer than the engine's reply time-out loses an answer; the
        // reply's shape is what is checked here, so a lost answer is asked again.
        for (int attempt = 0; attempt < 3 && !block.inq_fill; ++attempt) {
            engine.visca_exec_inq_cmd(block);
        }
        ASSERT_TRUE(block.inq_fill) << int{b};
        EXPECT_EQ(block.inq_length, 16);
        EXPECT_EQ(block.inq[2], b);
        EXPECT_EQ(block.inq[15], 0xFF);
    }
}

TEST_F(ViscaOnSimulator, InquiriesOfTheFirmwareAreAnswered)
{
    uint16_t version = 0;
    engine.cam_version_get(version);
    EXPECT_EQ(version, 0x0711);
    uint8_t value = 0;
    for (const auto& [category, item] : {std::pair{0x04, 0x75}, std::pair{0x04, 0x33},
                                         std::pair{0x04, 0x00}, std::pair{0x04, 0x15}}) {
        EXPECT_TRUE(engine.visca_commandinquiry(static_cast<uint8_t>(category),
                                                static_cast<uint8_t>(item), value))
            << category << " " << item;
    }
    EXPECT_EQ(engine.vid_format_get(), 41);  // starts in 1080p50
    for (const std::initializer_list<uint8_t> packet :
         {std::initializer_list<uint8_t>{0x81, 0x09, 0x06, 0x12, 0xFF},
          {0x81, 0x09, 0x04, 0x47, 0xFF},
          {0x81, 0x09, 0x04, 0x24, 0x59, 0xFF},
          {0x81, 0x09, 0x7E, 0x01, 0x7F, 0xFF},
          {0x81, 0x09, 0x05, 0x42, 0x02, 0xFF},
          {0x81, 0x09, 0x05, 0x2A, 0x00, 0xFF}}) {
        visca_inq_command inq = inquiry_of(packet);
        engine.visca_exec_inq_cmd(inq);
        EXPECT_TRUE(inq.inq_fill) << std::hex << int{inq.cmd[2]} << " " << int{inq.cmd[3]};
    }
    // An inquiry the camera does not know: syntax error, sent twice, no reply.
    visca_inq_command unknown = inquiry_of({0x81, 0x09, 0x04, 0x7F, 0xFF});
    engine.visca_exec_inq_cmd(unknown);
    EXPECT_FALSE(unknown.inq_fill);
    EXPECT_EQ(count_of(sim.history(), "81 09 04 7F FF"), 2U);
}

TEST_F(ViscaOnSimulator, RetryRulesUnderInjectedFaults)
{
    const std::string packet = "81 01 04 07 00 FF";
    auto run = [&](const std::string& fault) {
        EXPECT_TRUE(sim.ok("normal"));
        EXPECT_TRUE(sim.ok("clear"));
        if (!fault.empty()) {
            EXPECT_TRUE(sim.ok(fault));
        }
        visca_command cmd = command_of({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
        engine.visca_exec_cmd(cmd);
        EXPECT_TRUE(sim.wait_line_idle(20s));
        return std::make_tuple(cmd.ack, cmd.comp, count_of(sim.history(), packet));
    };
    EXPECT_EQ(run(""), std::make_tuple(true, true, 1U));
    EXPECT_EQ(run("error 1"), std::make_tuple(true, true, 2U));
    EXPECT_EQ(run("notexec 1"), std::make_tuple(true, true, 2U));
    EXPECT_EQ(run("garbage 1"), std::make_tuple(true, true, 2U));
    EXPECT_EQ(run("nocomp 1"), std::make_tuple(true, false, 1U));
    EXPECT_EQ(run("silent"), std::make_tuple(false, false, 2U));
    EXPECT_EQ(run("error"), std::make_tuple(false, false, 2U));
}

TEST_F(ViscaOnSimulator, OverlongReplyFailsTheAttempt)
{
    ASSERT_TRUE(sim.ok("long 1"));
    visca_inq_command inq = inquiry_of({0x81, 0x09, 0x04, 0x24, 0x72, 0xFF});
    engine.visca_exec_inq_cmd(inq);
    EXPECT_TRUE(inq.inq_fill);
    EXPECT_EQ(reply_of(inq), (Bytes{0x90, 0x50, 0x01, 0x04, 0xFF}));
    EXPECT_EQ(sim.history().size(), 2U);

    ASSERT_TRUE(sim.ok("long"));
    engine.visca_exec_inq_cmd(inq);
    EXPECT_FALSE(inq.inq_fill);
    EXPECT_EQ(inq.inq_length, 0);
}

TEST_F(ViscaOnSimulator, LateAnswersAreFlushedBeforeTheNextTransaction)
{
    // The first write is answered 1.5 s late: the retry gets the answer; the late
    // acknowledgement and completion arrive afterwards and wait in the receive queue.
    ASSERT_TRUE(sim.ok("late 1500 1"));
    visca_command cmd = command_of({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    engine.visca_exec_cmd(cmd);
    EXPECT_TRUE(cmd.ack);
    EXPECT_TRUE(cmd.comp);
    ASSERT_TRUE(sim.wait_line_idle(20s));

    // And a well-formed format reply on top (1080i60): taken, it would read as code 21.
    ASSERT_TRUE(sim.ok("send 90 50 00 02 FF"));
    ASSERT_TRUE(sim.wait_line_idle(20s));
    EXPECT_EQ(engine.vid_format_get(), 41);
}

TEST_F(ViscaOnSimulator, DrainSendsTheLastWriteOfEachSlot)
{
    // Two producer sections within one drain interval (the engine is held meanwhile) write the
    // same slot with different positions; both are short moves that complete at once.
    engine.vid_fmt_switch = true;
    auto capture = [&](const std::function<void(int)>& write) {
        {
            int index = -1;
            const auto lock = engine.lock_capture_buffer(index);
            write(index);
        }
        engine.notify_captured();
    };
    capture([&](int index) {
        const uint8_t first[] = {0x00, 0x02, 0x00, 0x00};
        std::memcpy(engine.cam_zoom_direct[index].cmd + 4, first, 4);
        engine.cam_zoom_direct[index].cmd_fill = true;
        engine.cam_wb_mode[index].cmd[4] = 0x03;
        engine.cam_wb_mode[index].cmd_fill = true;
    });
    capture([&](int index) {
        const uint8_t last[] = {0x00, 0x01, 0x00, 0x00};
        std::memcpy(engine.cam_zoom_direct[index].cmd + 4, last, 4);
        engine.cam_zoom_direct[index].cmd_fill = true;
        engine.cam_wb_one_push_trig[index].cmd[4] = 0x05;
        engine.cam_wb_one_push_trig[index].cmd_fill = true;
    });
    engine.vid_fmt_switch = false;
    // The one-push trigger is the last slot of the drain.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (sim.state().at("wb_one_push") != "1" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(
        eventually_reports(engine, {0x81, 0x09, 0x04, 0x47, 0xFF}, {0x90, 0x50, 0, 1, 0, 0, 0xFF}));
    // Commands in the order sent; a resend after a time-out on a starved machine counts once.
    std::vector<std::string> history;
    for (const std::string& packet : sim.history()) {
        if (packet.rfind("81 01", 0) == 0 && (history.empty() || history.back() != packet)) {
            history.push_back(packet);
        }
    }
    ASSERT_EQ(history.size(), 3U);
    EXPECT_EQ(history[0], "81 01 04 47 00 01 00 00 FF");
    EXPECT_EQ(history[1], "81 01 04 35 03 FF");
    EXPECT_EQ(history[2], "81 01 04 10 05 FF");
    const auto state = sim.state();
    EXPECT_EQ(state.at("WbMode"), "3");
    EXPECT_EQ(state.at("wb_one_push"), "1");
}

TEST_F(ViscaOnSimulator, PanTiltMovesAndPresetsRecallPositions)
{
    // 0x0100 / 0x0050 at the top speed: done well within the completion wait.
    visca_command move = command_of(
        {0x81, 0x01, 0x06, 0x02, 0x18, 0x17, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0xFF});
    engine.visca_exec_cmd(move);
    EXPECT_TRUE(move.ack);
    const Bytes at_target{0x90, 0x50, 0, 1, 0, 0, 0, 0, 5, 0, 0xFF};
    ASSERT_TRUE(eventually_reports(engine, {0x81, 0x09, 0x06, 0x12, 0xFF}, at_target));

    visca_command store = command_of({0x81, 0x01, 0x04, 0x3F, 0x01, 0x02, 0xFF});
    engine.visca_exec_cmd(store);
    EXPECT_TRUE(store.comp);
    visca_command home = command_of({0x81, 0x01, 0x06, 0x04, 0xFF});
    engine.visca_exec_cmd(home);
    EXPECT_TRUE(home.ack);
    ASSERT_TRUE(eventually_reports(engine, {0x81, 0x09, 0x06, 0x12, 0xFF},
                                   {0x90, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF}));
    visca_command recall = command_of({0x81, 0x01, 0x04, 0x3F, 0x02, 0x02, 0xFF});
    engine.visca_exec_cmd(recall);
    EXPECT_TRUE(recall.ack);
    EXPECT_TRUE(eventually_reports(engine, {0x81, 0x09, 0x06, 0x12, 0xFF}, at_target));

    // A long, slow move: acknowledged, its completion comes too late for the transaction.
    visca_command slow = command_of(
        {0x81, 0x01, 0x06, 0x02, 0x01, 0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF});
    engine.visca_exec_cmd(slow);
    EXPECT_TRUE(slow.ack);
    EXPECT_FALSE(slow.comp);
    EXPECT_EQ(sim.state().at("moving"), "1");
    visca_command stop = command_of({0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF});
    engine.visca_exec_cmd(stop);
    EXPECT_TRUE(stop.comp);
    EXPECT_EQ(sim.state().at("moving"), "0");
}

TEST_F(ViscaOnSimulator, TallyLampAndMenuStateAreKept)
{
    visca_command program = command_of({0x81, 0x01, 0x7E, 0x01, 0x0A, 0x00, 0x02, 0xFF});
    engine.visca_exec_cmd(program);
    EXPECT_TRUE(program.comp);
    EXPECT_EQ(sim.state().at("tally_lamp"), "2");
    uint8_t value = 0;
    visca_inq_command lamp = inquiry_of({0x81, 0x09, 0x7E, 0x01, 0x0A, 0xFF});
    engine.visca_exec_inq_cmd(lamp);
    EXPECT_EQ(reply_of(lamp), (Bytes{0x90, 0x50, 0x02, 0xFF}));

    ASSERT_TRUE(sim.ok("set menu 1"));
    ASSERT_TRUE(sim.ok("clear"));
    engine.close_osd();
    EXPECT_EQ(sim.history(),
              (std::vector<std::string>{"81 09 04 15 FF", "81 01 06 06 10 FF", "81 09 04 15 FF",
                                        "81 09 04 15 FF", "81 09 04 15 FF"}));
    EXPECT_TRUE(engine.visca_commandinquiry(0x04, 0x15, value));
    EXPECT_EQ(value, 0x03);
}

TEST_F(ViscaOnSimulator, FormatChangeTakesEffectAfterTheDelay)
{
    ASSERT_TRUE(sim.ok("format-delay 400"));
    engine.vid_format_change(video_format_2160_25p);
    EXPECT_TRUE(engine.cam_vid_fmt.comp);
    EXPECT_EQ(engine.vid_format_get(), static_cast<int>(video_format_1080_50p));
    EXPECT_TRUE(eventually_reports(engine, {0x81, 0x09, 0x04, 0x24, 0x72, 0xFF},
                                   {0x90, 0x50, 0x01, 0x0E, 0xFF}));
}

TEST_F(ViscaOnSimulator, ACommandSentDuringAMoveRunsOnceOnTheSecondSocket)
{
    // A slow move holds socket 1 far beyond the transaction's completion wait.
    visca_command move = command_of(
        {0x81, 0x01, 0x06, 0x02, 0x01, 0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF});
    engine.visca_exec_cmd(move);
    ASSERT_TRUE(move.ack);
    ASSERT_EQ(sim.state().at("socket1"), "busy");

    // A menu toggle meanwhile: acknowledged and completed on socket 2; run twice, it would leave
    // the menu as it was.
    visca_command toggle = command_of({0x81, 0x01, 0x06, 0x06, 0x10, 0xFF});
    engine.visca_exec_cmd(toggle);
    EXPECT_TRUE(toggle.ack);
    EXPECT_TRUE(toggle.comp);
    EXPECT_EQ(count_of(sim.history(), "81 01 06 06 10 FF"), 1U);
    EXPECT_EQ(sim.state().at("menu"), "1");

    // The stop ends the move: the move's completion (socket 1) comes while the stop's (socket 2)
    // is awaited.
    visca_command stop = command_of({0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF});
    engine.visca_exec_cmd(stop);
    EXPECT_TRUE(stop.comp);
    EXPECT_EQ(count_of(sim.history(), "81 01 06 01 05 05 03 03 FF"), 1U);
    const auto state = sim.state();
    EXPECT_EQ(state.at("moving"), "0");
    EXPECT_EQ(state.at("socket1"), "idle");
}

TEST_F(SimulatorBoard, ACaptureJustBeforeTheEngineWaitsIsDrainedButNotDuringAFormatChange)
{
    // The hook runs on the engine thread after it found nothing captured and before it waits: a
    // producer that captures and notifies in that window, while a format change begins.
    visca engine;
    std::atomic<bool> captured{false};
    engine.before_wakeup_wait = [&] {
        if (captured.exchange(true)) {
            return;
        }
        engine.vid_fmt_switch = true;
        {
            int index = -1;
            const auto lock = engine.lock_capture_buffer(index);
            engine.cam_misc[index].cmd[4] = 0x02;  // power on
            engine.cam_misc[index].cmd_fill = true;
        }
        engine.notify_captured();
    };
    ASSERT_EQ(engine.init_visca(), 1);
    ASSERT_TRUE(vantor::test::wait_until([&] { return captured.load(); }, 10s));
    // Paused: nothing goes out while the flag stays set.
    EXPECT_FALSE(history_reaches(1, 300ms));
    engine.vid_fmt_switch = false;
    EXPECT_TRUE(history_reaches(1, 10s));
    EXPECT_EQ(sim.history(), std::vector<std::string>{"81 01 04 00 02 FF"});
    engine.deinit_visca();
}

TEST_F(ViscaOnSimulator, TransactionsEndOnALineThatNeverFallsQuiet)
{
    ASSERT_TRUE(sim.ok("noise on"));
    std::atomic<bool> done{false};
    std::thread transactions([&] {
        visca_command cmd = command_of({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
        engine.visca_exec_cmd(cmd);
        visca_inq_command inq = inquiry_of({0x81, 0x09, 0x04, 0x24, 0x72, 0xFF});
        engine.visca_exec_inq_cmd(inq);
        done = true;
    });
    const bool ended = vantor::test::wait_until([&] { return done.load(); }, 10s);
    ASSERT_TRUE(sim.ok("noise off"));  // frees a transaction that would discard for ever
    transactions.join();
    EXPECT_TRUE(ended) << "a discard of a noisy line never ended";
    ASSERT_TRUE(sim.wait_line_idle(20s));
    visca_command after = command_of({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    engine.visca_exec_cmd(after);
    EXPECT_TRUE(after.comp);
}

TEST_F(SimulatorBoard, FlowControlLeftOnTheLineIsSwitchedOff)
{
    {
        // Whoever had the line before left hardware and software flow control on.
        vantor::UniqueFd line(::open((board / "/dev/ttyPS1").c_str(), O_RDWR | O_NOCTTY));
        ASSERT_TRUE(line);
        termios options = {};
        ASSERT_EQ(::tcgetattr(line.get(), &options), 0);
        options.c_cflag |= CRTSCTS;
        options.c_iflag |= IXON | IXOFF;
        ASSERT_EQ(::tcsetattr(line.get(), TCSANOW, &options), 0);
    }
    visca engine;
    ASSERT_EQ(engine.init_visca(), 1);
    visca_command cmd = command_of({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    engine.visca_exec_cmd(cmd);
    EXPECT_TRUE(cmd.comp);
    EXPECT_EQ(sim.state().at("line"), "ok");
    engine.deinit_visca();
}

TEST_F(ViscaOnSimulator, ALongDrainHoldsNoProducerLongerThanOneTransaction)
{
    // A silent camera: every slot of the drain costs two unanswered writes.
    ASSERT_TRUE(sim.ok("silent"));
    {
        int index = -1;
        const auto lock = engine.lock_capture_buffer(index);
        for (visca_command* slot :
             {engine.cam_zoom_speed, engine.cam_focus_mode, engine.cam_wb_mode,
              engine.cam_exposure_mode, engine.cam_misc}) {
            slot[index].cmd_fill = true;
        }
    }
    engine.notify_captured();
    ASSERT_TRUE(history_reaches(1, 20s));
    const size_t drain_writes = 10;
    const size_t before = sim.history().size();

    // Another thread's transaction (VISCA over IP, the web-UI loop) gets the line next.
    std::thread direct([&] {
        visca_inq_command inq = inquiry_of({0x81, 0x09, 0x04, 0x15, 0xFF});
        engine.visca_exec_inq_cmd(inq);
    });
    // A producer that read the capture index just before the swap locks the drained buffer.
    size_t while_draining = 0;
    {
        const std::lock_guard<std::mutex> lock(engine.cam_mutex[engine.exe_cmd_index.load()]);
        while_draining = sim.history().size();
    }
    direct.join();
    EXPECT_LT(while_draining, drain_writes) << "the producer waited for the whole drain";
    ASSERT_TRUE(history_reaches(drain_writes + 2, 20s));
    const auto history = sim.history();
    const auto first = std::find(history.begin(), history.end(), "81 09 04 15 FF");
    ASSERT_NE(first, history.end());
    EXPECT_LE(static_cast<size_t>(first - history.begin()), before + 2)
        << "the direct transaction waited for more than the one in progress";
}

class CamcontrolOnSimulator : public SimulatorBoard {
protected:
    CamcontrolOnSimulator() { control.camera_poll_period = 20ms; }
    Camcontrol control;
};

TEST_F(CamcontrolOnSimulator, BringUpFormatSwitchAndShutdown)
{
    ASSERT_TRUE(sim.ok("silent"));
    int result = -1;
    std::thread bring_up([&] { result = control.cam_init_Camcontrol(0); });
    // The camera stays silent for two presence checks (two writes each), then answers.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (sim.history().size() < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(sim.ok("normal"));
    bring_up.join();
    EXPECT_EQ(result, 1);
    EXPECT_GE(sim.history().size(), 5U);

    control.init_Camcontrol();
    ASSERT_TRUE(sim.ok("format-delay 300"));
    control.set_vid_fmt_Camcontrol(video_format_1080_25i);
    EXPECT_EQ(sim.state().at("format"), "20");  // the module produces 1080p50 (0x14)
    control.set_vid_fmt_Camcontrol(video_format_2160_25p);
    EXPECT_EQ(sim.state().at("format"), "30");  // 0x1E
    const auto history = sim.history();
    EXPECT_EQ(count_of(history, "81 01 04 24 72 00 04 FF"), 1U);
    EXPECT_EQ(count_of(history, "81 01 04 24 72 01 0E FF"), 1U);

    control.deinit_Camcontrol();
    EXPECT_FALSE(control.m_visca.exec_visca_thread.joinable());
}

TEST_F(CamcontrolOnSimulator, FormatHandShakeReturnsEarlyOrResendsEvery31Polls)
{
    control.camera_poll_period = 1ms;
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);

    // The camera switches at once: the change is written once and confirmed by the read-back.
    ASSERT_TRUE(sim.ok("clear"));
    control.set_vid_fmt_Camcontrol(video_format_1080_59p);
    const auto switched = sim.history();
    EXPECT_EQ(count_of(switched, "81 01 04 24 72 01 03 FF"), 1U);
    ASSERT_FALSE(switched.empty());
    EXPECT_EQ(switched.back(), "81 09 04 24 72 FF");
    EXPECT_EQ(sim.state().at("format"), "19");  // 0x13

    // The camera never gets there: the change is written again after every 31 read-backs. (An
    // inquiry retried on a starved machine adds a packet, never removes one.)
    ASSERT_TRUE(sim.ok("format-delay 3600000"));
    ASSERT_TRUE(sim.ok("clear"));
    std::thread change([&] { control.set_vid_fmt_Camcontrol(video_format_2160_24p); });
    const std::string write = "81 01 04 24 72 02 00 FF";
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (count_of(sim.history(), write) < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    control.Camcontrol_en = false;
    change.join();
    const auto history = sim.history();
    ASSERT_GE(count_of(history, write), 3U);
    std::vector<int> reads_between;
    int reads = -1;
    for (const std::string& packet : history) {
        if (packet == write) {
            if (reads >= 0) {
                reads_between.push_back(reads);
            }
            reads = 0;
        } else if (packet == "81 09 04 24 72 FF" && reads >= 0) {
            ++reads;
        }
    }
    ASSERT_GE(reads_between.size(), 2U);
    for (const int between : reads_between) {
        EXPECT_GE(between, 31);
        EXPECT_LE(between, 62);
    }
    control.deinit_Camcontrol();
}

TEST(CameraSimProgram, HelpDocumentsTheControlCommands)
{
    FILE* help = ::popen(VANTOR_BIN_DIR "/camera-sim --help", "r");
    ASSERT_NE(help, nullptr);
    std::string text;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, help)) > 0;) {
        text.append(buffer, n);
    }
    EXPECT_EQ(::pclose(help), 0);
    for (const char* word : {"--link", "--control", "--format-delay", "--transcript", "silent",
                             "late MS", "error", "nocomp", "garbage", "long", "state", "send"}) {
        EXPECT_NE(text.find(word), std::string::npos) << word;
    }
}

TEST(CameraSimProgram, EndsWhenTheTestThatStartedItDies)
{
    TempBoardRoot board;
    board.make_dir("/dev");
    const std::string link = board / "/dev/ttyPS1";
    const pid_t test_process = ::fork();
    if (test_process == 0) {
        CameraSimProcess sim(VANTOR_BIN_DIR, link, board / "/sim.sock");
        // Ends as a sanitizer that halts does: at once, no destructor runs.
        ::_exit(sim.ready() ? 66 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(test_process, &status, 0), test_process);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 66) << "the simulator did not start";
    // The simulator removes its link when it ends.
    struct stat st = {};
    EXPECT_TRUE(vantor::test::wait_until([&] { return ::lstat(link.c_str(), &st) != 0; }, 10s));
}

TEST(CameraSimProgram, RefusesToReplaceAFileAndRejectsBadCommands)
{
    TempBoardRoot board;
    board.make_dir("/dev");
    vantor::test::write_text(board / "/dev/ttyPS1", "not a link");
    const std::string refuse = std::string(VANTOR_BIN_DIR "/camera-sim --link ") +
                               (board / "/dev/ttyPS1") + " </dev/null >/dev/null 2>&1";
    const int status = std::system(refuse.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);

    ::unlink((board / "/dev/ttyPS1").c_str());
    CameraSimProcess sim(VANTOR_BIN_DIR, board / "/dev/ttyPS1", board / "/c.sock");
    ASSERT_TRUE(sim.ready());
    EXPECT_EQ(sim.command("bogus").rfind("error: ", 0), 0U);
    EXPECT_EQ(sim.command("late x").rfind("error: ", 0), 0U);
    EXPECT_EQ(sim.command("send 1FF").rfind("error: ", 0), 0U);
    EXPECT_EQ(sim.command("set nothing 3").rfind("error: ", 0), 0U);
    EXPECT_TRUE(sim.ok("set IrisLevel 9"));
    EXPECT_EQ(sim.state().at("IrisLevel"), "9");
}

}  // namespace
