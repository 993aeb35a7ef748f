// The line as camera modules and UARTs behave: two command sockets, a stuck line, line settings,
// and the texts the engine prints; against a camera scripted by the test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "engine_fixture.h"
#include "fake_camera.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"
#include "visca/visca.h"

namespace {

using vantor::test::Bytes;
using vantor::test::FakeCamera;
using vantor::test::TempBoardRoot;
using namespace std::chrono_literals;

visca_command zoom_stop()
{
    visca_command cmd;
    visca::create_command(cmd, 1, 0x04, 0x07, 0x00);
    return cmd;
}

class ViscaLink : public vantor::test::EngineOnFakeCamera {};

TEST_F(ViscaLink, AnswersOnEitherSocketAndPassesOverTheOtherSocketsCompletion)
{
    // The answer to the first write; a resend (second write) is never answered.
    struct Case {
        const char* what;
        std::vector<Bytes> answer;
        bool ack;
        bool comp;
    };
    const Case cases[] = {
        {"socket 2 while socket 1 runs a move",
         {{0x90, 0x42, 0xFF}, {0x90, 0x52, 0xFF}},
         true,
         true},
        {"a finished move's completion before the acknowledgement",
         {{0x90, 0x51, 0xFF}, {0x90, 0x41, 0xFF}, {0x90, 0x51, 0xFF}},
         true,
         true},
        {"socket 1's completion while socket 2's is awaited",
         {{0x90, 0x42, 0xFF}, {0x90, 0x51, 0xFF}, {0x90, 0x52, 0xFF}},
         true,
         true},
        {"only the other socket completes", {{0x90, 0x42, 0xFF}, {0x90, 0x51, 0xFF}}, true, false},
        {"a completion on the wrong socket", {{0x90, 0x41, 0xFF}, {0x90, 0x52, 0xFF}}, true, false},
    };
    size_t written = 0;
    for (const Case& c : cases) {
        const size_t first = written;
        camera->respond([&c, first](const Bytes&, size_t index) {
            return index == first ? c.answer : std::vector<Bytes>{};
        });
        visca_command cmd = zoom_stop();
        engine.visca_exec_cmd(cmd);
        written = camera->packets().size();
        EXPECT_EQ(cmd.ack, c.ack) << c.what;
        EXPECT_EQ(cmd.comp, c.comp) << c.what;
        EXPECT_EQ(written - first, 1U) << c.what << ": acknowledged, so written once";
    }
}

TEST_F(ViscaLink, InquiryPassesOverARunningCommandsCompletion)
{
    camera->respond([](const Bytes&, size_t) {
        return std::vector<Bytes>{{0x90, 0x51, 0xFF}, {0x90, 0x50, 0x02, 0xFF}};
    });
    visca_inq_command inq;
    visca::create_inqcommand(inq, 0, 0x04, 0x15, 0);
    engine.visca_exec_inq_cmd(inq);
    EXPECT_TRUE(inq.inq_fill);
    EXPECT_EQ(Bytes(inq.inq, inq.inq + inq.inq_length), (Bytes{0x90, 0x50, 0x02, 0xFF}));
    EXPECT_EQ(camera->packets().size(), 1U);
}

TEST_F(ViscaLink, AWriteToAStuckLineGivesUpAndFreesTheLine)
{
    ASSERT_TRUE(camera->jam_line());
    std::atomic<bool> done{false};
    visca_command cmd = zoom_stop();
    std::thread sender([&] {
        engine.visca_exec_cmd(cmd);
        done = true;
    });
    const bool gave_up = vantor::test::wait_until([&] { return done.load(); }, 10s);
    camera->unjam_line();  // lets a blocked write finish, so the thread can always be joined
    sender.join();
    EXPECT_TRUE(gave_up) << "the write blocked with the line's mutex held";
    EXPECT_FALSE(cmd.ack);

    // The line works again once it takes bytes.
    camera->respond([](const Bytes&, size_t) {
        return std::vector<Bytes>{{0x90, 0x41, 0xFF}, {0x90, 0x51, 0xFF}};
    });
    visca_command next = zoom_stop();
    engine.visca_exec_cmd(next);
    EXPECT_TRUE(next.comp);
    EXPECT_EQ(camera->packets().size(), 1U);
}

TEST(ViscaLineSettings, RawNineSixHundredEightNOneWithoutFlowControl)
{
    TempBoardRoot board;
    board.make_dir("/dev");
    FakeCamera camera(board / "/dev/ttyPS1");
    ASSERT_TRUE(camera.ok());
    // Whatever the line was left with before: flow control of both kinds, another speed, echo.
    termios before = {};
    ASSERT_EQ(::tcgetattr(camera.slave_fd(), &before), 0);
    before.c_cflag |= CRTSCTS | CSTOPB;
    before.c_iflag |= IXON | IXOFF | IXANY | ICRNL;
    before.c_oflag |= OPOST;
    before.c_lflag |= ICANON | ECHO | ISIG;
    ::cfsetispeed(&before, B115200);
    ::cfsetospeed(&before, B115200);
    ASSERT_EQ(::tcsetattr(camera.slave_fd(), TCSANOW, &before), 0);

    visca engine;
    ASSERT_EQ(engine.init_visca(), 1);
    termios after = {};
    ASSERT_EQ(::tcgetattr(camera.slave_fd(), &after), 0);
    EXPECT_EQ(::cfgetispeed(&after), B9600);
    EXPECT_EQ(::cfgetospeed(&after), B9600);
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0U);
    EXPECT_EQ(after.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(after.c_iflag, 0U);
    EXPECT_EQ(after.c_oflag & OPOST, 0U);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ECHOE | ISIG), 0U);
    engine.deinit_visca();
}

TEST(ViscaTexts, BringUpFormatAndRefusedLinesPrintTheirLines)
{
    TempBoardRoot board;
    board.make_dir("/dev");
    FakeCamera camera(board / "/dev/ttyPS1");
    ASSERT_TRUE(camera.ok());
    std::promise<void> engine_waiting;
    std::atomic<bool> told{false};
    visca engine;
    engine.before_wakeup_wait = [&] {
        if (!told.exchange(true)) {
            engine_waiting.set_value();
        }
    };
    const Bytes format_1080p50{0x90, 0x50, 0x01, 0x04, 0xFF};
    camera.respond([format_1080p50](const Bytes& packet, size_t index) {
        if (packet[1] == 0x09) {
            // The first presence check is answered, the second (two writes) is not.
            return index == 1 || index == 2 ? std::vector<Bytes>{{0x90, 0x60, 0x02, 0xFF}}
                                            : std::vector<Bytes>{format_1080p50};
        }
        return std::vector<Bytes>{{0x90, 0x41, 0xFF}, {0x90, 0x51, 0xFF}};
    });

    testing::internal::CaptureStdout();
    ASSERT_EQ(engine.init_visca(), 1);
    const bool started =
        engine_waiting.get_future().wait_for(10s) == std::future_status::ready;  // after its line
    const bool first_check = engine.visca_r8t_init();
    const bool second_check = engine.visca_r8t_init();
    engine.vid_format_change(52);
    const int format = engine.vid_format_get();
    engine.deinit_visca();
    // Lines that are refused: a missing device, and a file that is not a terminal, whose
    // settings cannot be applied. Neither starts an engine thread.
    vantor::test::write_text(board / "/dev/ttyPS8", "not a terminal");
    visca refused[2];
    refused[0].camSerial = "/dev/ttyPS9";
    refused[1].camSerial = "/dev/ttyPS8";
    int refused_results = 0;
    for (visca& line : refused) {
        refused_results += line.init_visca();
        EXPECT_FALSE(line.exec_visca_thread.joinable()) << line.camSerial;
        EXPECT_EQ(line.cam_fd, -1) << line.camSerial;
    }
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_TRUE(started);
    EXPECT_TRUE(first_check);
    EXPECT_FALSE(second_check);
    EXPECT_EQ(format, 41);
    EXPECT_EQ(refused_results, 0);
    EXPECT_EQ(out, "/dev/ttyPS1 opened successfully\n"
                   "exec_visca\n"
                   "camera initialization check is ok\n"
                   "camera initialization check is wrong\n"
                   "CAM vid_format_change 1d\n"
                   "vid_format_get\n"
                   "valid responce 14\n"
                   "cannot open /dev/ttyPS9\n"
                   "/dev/ttyPS8 opened successfully\n"
                   "cannot configure /dev/ttyPS8: Inappropriate ioctl for device\n");
}

}  // namespace
