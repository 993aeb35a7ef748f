// The camera-module simulator's model and line, driven with explicit times.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "camera_model.h"
#include "line_settings.h"
#include "paced_line.h"
#include "simulator.h"

namespace {

using camsim::Bytes;
using camsim::CameraModel;
using camsim::FaultKind;
using camsim::Millis;
using camsim::Reply;
using camsim::TimePoint;

const TimePoint kT0 = TimePoint{} + std::chrono::hours(1);
constexpr Millis kDelay{2};  // the default processing delay

// A pan move to 2304 at speed 1 (100 units/s): 23 s, far longer than any test looks.
const Bytes kSlowPan{0x81, 0x01, 0x06, 0x02, 0x01, 0x01, 0x00, 0x09,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
// A pan move to 240 at speed 0x18 (2400 units/s): arrives after 100 ms.
const Bytes kPan240{0x81, 0x01, 0x06, 0x02, 0x18, 0x17, 0x00, 0x00,
                    0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
// A direct zoom to 0x4000 at 8192 units/s: 2 s.
const Bytes kSlowZoom{0x81, 0x01, 0x04, 0x47, 0x04, 0x00, 0x00, 0x00, 0xFF};
const Bytes kPtStop{0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF};
const Bytes kExposureManual{0x81, 0x01, 0x04, 0x39, 0x03, 0xFF};

std::vector<Bytes> bytes_of(const std::vector<Reply>& replies)
{
    std::vector<Bytes> out;
    out.reserve(replies.size());
    for (const Reply& r : replies) {
        out.push_back(r.bytes);
    }
    return out;
}

std::vector<Bytes> one(const Bytes& reply)
{
    return {reply};
}

double ms_between(TimePoint from, TimePoint to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The value of `name` in a "name=value" per line text.
std::string value_in(const std::string& text, const std::string& name)
{
    const std::string lines = "\n" + text;
    const size_t at = lines.find("\n" + name + "=");
    if (at == std::string::npos) {
        return "<missing>";
    }
    const size_t start = at + name.size() + 2;
    return lines.substr(start, lines.find('\n', start) - start);
}

std::string state_value(const CameraModel& model, const std::string& name, TimePoint now)
{
    return value_in(model.state_text(now), name);
}

struct ParameterCase {
    const char* what;
    Bytes packet;
    Bytes reply;
};

TEST(CameraModelCommands, ParametersAreCheckedAndARejectedCommandChangesNothing)
{
    const Bytes ack{0x90, 0x41, 0xFF};
    const Bytes syntax{0x90, 0x60, 0x02, 0xFF};
    const ParameterCase cases[] = {
        {"drive, top speeds", {0x81, 0x01, 0x06, 0x01, 0x18, 0x17, 0x01, 0x02, 0xFF}, ack},
        {"drive, pan speed 0", {0x81, 0x01, 0x06, 0x01, 0x00, 0x05, 0x01, 0x01, 0xFF}, syntax},
        {"drive, pan speed 19", {0x81, 0x01, 0x06, 0x01, 0x19, 0x05, 0x01, 0x01, 0xFF}, syntax},
        {"drive, tilt speed 18", {0x81, 0x01, 0x06, 0x01, 0x05, 0x18, 0x01, 0x01, 0xFF}, syntax},
        {"drive, pan direction 04", {0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x04, 0x03, 0xFF}, syntax},
        {"drive, tilt direction 00",
         {0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x00, 0xFF},
         syntax},
        {"absolute, speed 0",
         {0x81, 0x01, 0x06, 0x02, 0x00, 0x01, 0, 0, 0, 1, 0, 0, 0, 1, 0xFF},
         syntax},
        {"absolute, position byte 10",
         {0x81, 0x01, 0x06, 0x02, 0x01, 0x01, 0, 0x10, 0, 1, 0, 0, 0, 1, 0xFF},
         syntax},
        {"direct zoom", {0x81, 0x01, 0x04, 0x47, 0x01, 0x02, 0x03, 0x04, 0xFF}, ack},
        {"direct zoom, byte 20", {0x81, 0x01, 0x04, 0x47, 0x01, 0x20, 0x03, 0x04, 0xFF}, syntax},
        {"direct focus, byte F0", {0x81, 0x01, 0x04, 0x48, 0xF0, 0x00, 0x00, 0x00, 0xFF}, syntax},
        {"zoom tele 27", {0x81, 0x01, 0x04, 0x07, 0x27, 0xFF}, ack},
        {"zoom wide 03", {0x81, 0x01, 0x04, 0x07, 0x03, 0xFF}, ack},
        {"zoom 01", {0x81, 0x01, 0x04, 0x07, 0x01, 0xFF}, syntax},
        {"zoom 28", {0x81, 0x01, 0x04, 0x07, 0x28, 0xFF}, syntax},
        {"focus 40", {0x81, 0x01, 0x04, 0x08, 0x40, 0xFF}, syntax},
        {"register, nibbles", {0x81, 0x01, 0x04, 0x4B, 0x00, 0x00, 0x00, 0x08, 0xFF}, ack},
        {"register, pad 01", {0x81, 0x01, 0x04, 0x4B, 0x01, 0x00, 0x00, 0x08, 0xFF}, syntax},
        {"register, one nibble 10", {0x81, 0x01, 0x04, 0x39, 0x10, 0xFF}, syntax},
        {"register, byte mode", {0x81, 0x01, 0x04, 0x5D, 0x20, 0xFF}, ack},
        {"register, byte mode pad 01", {0x81, 0x01, 0x05, 0x4C, 0x01, 0x20, 0xFF}, syntax},
        {"mute toggle", {0x81, 0x01, 0x04, 0x75, 0x10, 0xFF}, ack},
        {"preset 80", {0x81, 0x01, 0x04, 0x3F, 0x01, 0x80, 0xFF}, syntax},
        {"preset action 03", {0x81, 0x01, 0x04, 0x3F, 0x03, 0x01, 0xFF}, syntax},
        {"video format, byte 10", {0x81, 0x01, 0x04, 0x24, 0x72, 0x01, 0x10, 0xFF}, syntax},
        {"tally lamp 04", {0x81, 0x01, 0x7E, 0x01, 0x0A, 0x00, 0x04, 0xFF}, syntax},
        {"menu 04", {0x81, 0x01, 0x06, 0x06, 0x04, 0xFF}, syntax},
        {"unknown command", {0x81, 0x01, 0x04, 0x7F, 0x01, 0xFF}, syntax},
        {"command without body", {0x81, 0x01, 0xFF}, syntax},
        {"cancel socket 3", {0x81, 0x23, 0xFF}, syntax},
        {"unknown kind", {0x81, 0x30, 0x01, 0xFF}, syntax},
    };
    for (const ParameterCase& c : cases) {
        CameraModel model;
        const std::string before = model.state_text(kT0 + Millis(1));
        EXPECT_EQ(bytes_of(model.handle_packet(c.packet, kT0)), std::vector<Bytes>{c.reply})
            << c.what;
        if (c.reply == syntax) {
            EXPECT_EQ(model.state_text(kT0 + Millis(1)), before) << c.what;
        }
    }
}

TEST(CameraModelCommands, PacketsForOthersOrCutShortAreNotAnswered)
{
    CameraModel model;
    const std::string before = model.state_text(kT0);
    for (const Bytes& packet :
         {Bytes{}, Bytes{0xFF}, Bytes{0x81, 0xFF}, Bytes{0x81, 0x09, 0x04},
          Bytes{0x82, 0x01, 0x04, 0x39, 0x03, 0xFF}, Bytes{0x88, 0x09, 0x00, 0x02, 0xFF}}) {
        EXPECT_TRUE(model.handle_packet(packet, kT0).empty()) << camsim::hex(packet);
    }
    EXPECT_EQ(model.state_text(kT0), before);
}

TEST(CameraModelCommands, MuteToggleSwapsOnAndOff)
{
    CameraModel model;
    model.handle_packet({0x81, 0x01, 0x04, 0x75, 0x10, 0xFF}, kT0);
    EXPECT_EQ(state_value(model, "Mute", kT0), "2");
    model.handle_packet({0x81, 0x01, 0x04, 0x75, 0x10, 0xFF}, kT0 + Millis(100));
    EXPECT_EQ(state_value(model, "Mute", kT0), "3");
}

TEST(CameraModelSockets, CommandWhileAMoveRunsTakesSocketTwo)
{
    CameraModel model;
    model.set_processing_delay(Millis(5));
    const auto first = model.handle_packet(kSlowPan, kT0);
    ASSERT_EQ(bytes_of(first), one({0x90, 0x41, 0xFF}));
    EXPECT_EQ(first[0].due, kT0 + Millis(5));

    const TimePoint later = kT0 + Millis(50);
    const auto second = model.handle_packet(kExposureManual, later);
    ASSERT_EQ(bytes_of(second), one({0x90, 0x42, 0xFF}));
    EXPECT_EQ(second[0].due, later + Millis(5));
    EXPECT_EQ(state_value(model, "socket1", later), "busy");
    EXPECT_EQ(state_value(model, "socket2", later), "busy");
    // The setting completes one processing delay after its acknowledgement; the move goes on.
    EXPECT_EQ(model.next_event(), later + Millis(10));
    EXPECT_TRUE(model.advance(later + Millis(9)).empty());
    const auto done = model.advance(later + Millis(10));
    ASSERT_EQ(bytes_of(done), one({0x90, 0x52, 0xFF}));
    EXPECT_EQ(done[0].due, later + Millis(10));
    EXPECT_EQ(state_value(model, "socket1", later), "busy");
    EXPECT_EQ(state_value(model, "socket2", later), "idle");

    // An inquiry takes no socket.
    EXPECT_EQ(bytes_of(model.handle_packet({0x81, 0x09, 0x04, 0x39, 0xFF}, later + Millis(20))),
              one({0x90, 0x50, 0x03, 0xFF}));
}

TEST(CameraModelSockets, BothSocketsBusyRefusesWithBufferFullAndChangesNothing)
{
    CameraModel model;
    model.handle_packet(kSlowPan, kT0);
    model.handle_packet(kSlowZoom, kT0 + Millis(10));
    const TimePoint now = kT0 + Millis(20);
    const std::string before = model.state_text(now);
    EXPECT_EQ(bytes_of(model.handle_packet(kPtStop, now)), one({0x90, 0x60, 0x03, 0xFF}));
    EXPECT_EQ(bytes_of(model.handle_packet(kExposureManual, now)), one({0x90, 0x60, 0x03, 0xFF}));
    EXPECT_EQ(model.state_text(now), before);
    EXPECT_EQ(state_value(model, "moving", now + Millis(500)), "1");
}

TEST(CameraModelSockets, MoveCompletesWhenItArrivesAfterAShortCommandOnSocketTwo)
{
    CameraModel model;
    model.handle_packet(kPan240, kT0);
    model.handle_packet(kExposureManual, kT0 + Millis(10));
    const TimePoint arrival = kT0 + Millis(100);
    // Collected late, the completions still come in the order they fell due.
    const auto done = model.advance(arrival + kDelay + Millis(1));
    ASSERT_EQ(bytes_of(done), (std::vector<Bytes>{{0x90, 0x52, 0xFF}, {0x90, 0x51, 0xFF}}));
    EXPECT_EQ(done[0].due, kT0 + Millis(10) + kDelay * 2);
    EXPECT_NEAR(ms_between(arrival, done[1].due), kDelay.count(), 0.001);
    EXPECT_EQ(state_value(model, "pan", arrival), "240");
    EXPECT_FALSE(model.next_event());
}

TEST(CameraModelSockets, MoveStoppedByALaterDriveCompletesAtTheStop)
{
    CameraModel model;
    model.handle_packet(kSlowPan, kT0);
    const TimePoint stop = kT0 + Millis(300);
    const auto stopped = model.handle_packet(kPtStop, stop);
    ASSERT_EQ(bytes_of(stopped), one({0x90, 0x42, 0xFF}));
    // The move's completion comes at the stop, after the stop's acknowledgement, and the stop's
    // own completion after it.
    const auto completions = model.advance(stop + kDelay * 2);
    ASSERT_EQ(bytes_of(completions), (std::vector<Bytes>{{0x90, 0x51, 0xFF}, {0x90, 0x52, 0xFF}}));
    EXPECT_EQ(completions[0].due, stop + kDelay);
    EXPECT_EQ(completions[1].due, stop + kDelay * 2);
    EXPECT_EQ(state_value(model, "pan", stop + Millis(1000)), "30");
    EXPECT_FALSE(model.next_event());
}

TEST(CameraModelSockets, SetPanEndsTheMoveOfThePanAxis)
{
    CameraModel model;
    model.handle_packet(kSlowPan, kT0);
    std::string message;
    ASSERT_TRUE(model.set_named("pan", 100, message, kT0 + Millis(40)));
    const auto completions = model.advance(kT0 + Millis(40) + kDelay);
    ASSERT_EQ(bytes_of(completions), one({0x90, 0x51, 0xFF}));
    EXPECT_EQ(completions[0].due, kT0 + Millis(40) + kDelay);
}

TEST(CameraModelSockets, CancelEndsABusySocketWithoutCompletionAndReportsAnIdleOne)
{
    CameraModel model;
    model.handle_packet(kSlowPan, kT0);
    const TimePoint cancel = kT0 + Millis(500);
    EXPECT_EQ(bytes_of(model.handle_packet({0x81, 0x21, 0xFF}, cancel)),
              one({0x90, 0x61, 0x04, 0xFF}));
    EXPECT_EQ(bytes_of(model.handle_packet({0x81, 0x22, 0xFF}, cancel)),
              one({0x90, 0x62, 0x05, 0xFF}));
    EXPECT_TRUE(model.advance(kT0 + std::chrono::seconds(60)).empty());
    EXPECT_EQ(state_value(model, "pan", kT0 + std::chrono::seconds(60)), "50");
    EXPECT_EQ(state_value(model, "socket1", cancel), "idle");
}

TEST(CameraModelSockets, InterfaceClearDropsEveryPendingCompletion)
{
    const Bytes clear{0x81, 0x01, 0x00, 0x01, 0xFF};
    const Bytes broadcast{0x88, 0x01, 0x00, 0x01, 0xFF};
    for (const Bytes& packet : {clear, broadcast}) {
        CameraModel model;
        model.handle_packet(kSlowPan, kT0);
        model.handle_packet(kSlowZoom, kT0 + Millis(10));
        const Bytes expected = packet == clear ? Bytes{0x90, 0x50, 0xFF} : broadcast;
        EXPECT_EQ(bytes_of(model.handle_packet(packet, kT0 + Millis(100))),
                  std::vector<Bytes>{expected});
        EXPECT_FALSE(model.next_event());
        EXPECT_TRUE(model.advance(kT0 + std::chrono::seconds(60)).empty());
        EXPECT_EQ(state_value(model, "moving", kT0 + Millis(200)), "0");
        EXPECT_EQ(state_value(model, "pan", kT0 + Millis(200)), "10");
    }
}

TEST(CameraModelSockets, NoCompletionFaultLeavesTheSocketFree)
{
    CameraModel model;
    model.set_fault(FaultKind::nocomp, 1);
    EXPECT_EQ(bytes_of(model.handle_packet(kExposureManual, kT0)), one({0x90, 0x41, 0xFF}));
    EXPECT_FALSE(model.next_event());
    EXPECT_EQ(state_value(model, "socket1", kT0), "idle");
    EXPECT_EQ(state_value(model, "ExpMode", kT0), "3");
}

TEST(CameraModelStandby, OnlyPowerOnInquiriesCancelAndClearWorkInStandby)
{
    CameraModel model;
    model.handle_packet({0x81, 0x01, 0x04, 0x00, 0x03, 0xFF}, kT0);
    model.advance(kT0 + Millis(10));
    const TimePoint now = kT0 + Millis(20);
    const std::string before = model.state_text(now);
    const ParameterCase cases[] = {
        {"setting", kExposureManual, {0x90, 0x61, 0x41, 0xFF}},
        {"move", kPan240, {0x90, 0x61, 0x41, 0xFF}},
        {"standby again", {0x81, 0x01, 0x04, 0x00, 0x03, 0xFF}, {0x90, 0x61, 0x41, 0xFF}},
        {"inquiry", {0x81, 0x09, 0x04, 0x00, 0xFF}, {0x90, 0x50, 0x03, 0xFF}},
        {"cancel", {0x81, 0x21, 0xFF}, {0x90, 0x61, 0x05, 0xFF}},
        {"interface clear", {0x81, 0x01, 0x00, 0x01, 0xFF}, {0x90, 0x50, 0xFF}},
    };
    for (const ParameterCase& c : cases) {
        EXPECT_EQ(bytes_of(model.handle_packet(c.packet, now)), std::vector<Bytes>{c.reply})
            << c.what;
    }
    EXPECT_EQ(model.state_text(now), before);
    EXPECT_EQ(bytes_of(model.handle_packet({0x81, 0x01, 0x04, 0x00, 0x02, 0xFF}, now)),
              one({0x90, 0x41, 0xFF}));
    EXPECT_EQ(state_value(model, "Power", now), "2");
}

TEST(CameraModelErrors, InquiryErrorsCarrySocketZeroCommandErrorsTheSocketTheyWouldTake)
{
    struct Case {
        const char* what;
        FaultKind fault;
        bool socket1_busy;
        Bytes packet;
        Bytes reply;
    };
    const Bytes inquiry{0x81, 0x09, 0x04, 0x39, 0xFF};
    const Case cases[] = {
        {"unknown inquiry",
         FaultKind::none,
         false,
         {0x81, 0x09, 0x04, 0x7F, 0xFF},
         {0x90, 0x60, 0x02, 0xFF}},
        {"notexec inquiry", FaultKind::notexec, true, inquiry, {0x90, 0x60, 0x41, 0xFF}},
        {"error inquiry", FaultKind::error, false, inquiry, {0x90, 0x60, 0x02, 0xFF}},
        {"notexec command", FaultKind::notexec, false, kExposureManual, {0x90, 0x61, 0x41, 0xFF}},
        {"notexec, socket 1 busy",
         FaultKind::notexec,
         true,
         kExposureManual,
         {0x90, 0x62, 0x41, 0xFF}},
    };
    for (const Case& c : cases) {
        CameraModel model;
        if (c.socket1_busy) {
            model.handle_packet(kSlowPan, kT0);
        }
        model.set_fault(c.fault, 1);
        EXPECT_EQ(bytes_of(model.handle_packet(c.packet, kT0 + Millis(10))),
                  std::vector<Bytes>{c.reply})
            << c.what;
        EXPECT_EQ(state_value(model, "ExpMode", kT0 + Millis(10)), "0") << c.what;
    }
}

TEST(LineSettings, OnlyRaw9600EightNoneOneIsAccepted)
{
    termios raw = {};
    ::cfmakeraw(&raw);
    raw.c_cflag |= CREAD | CLOCAL;
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    struct Case {
        const char* reason;
        std::function<void(termios&)> change;
    };
    const Case cases[] = {
        {"", [](termios&) {}},
        {"input-speed,output-speed", [](termios& t) { ::cfsetspeed(&t, B19200); }},
        {"char-size", [](termios& t) { t.c_cflag = (t.c_cflag & ~tcflag_t{CSIZE}) | CS7; }},
        {"parity", [](termios& t) { t.c_cflag |= PARENB; }},
        {"two-stop-bits", [](termios& t) { t.c_cflag |= CSTOPB; }},
        {"crtscts", [](termios& t) { t.c_cflag |= CRTSCTS; }},
        {"no-cread", [](termios& t) { t.c_cflag &= ~tcflag_t{CREAD}; }},
        {"ixon,icrnl", [](termios& t) { t.c_iflag |= IXON | ICRNL; }},
        {"ixoff,ixany,inlcr,igncr", [](termios& t) { t.c_iflag |= IXOFF | IXANY | INLCR | IGNCR; }},
        {"istrip,inpck,parmrk", [](termios& t) { t.c_iflag |= ISTRIP | INPCK | PARMRK; }},
        {"opost", [](termios& t) { t.c_oflag |= OPOST; }},
        {"icanon,echo,isig", [](termios& t) { t.c_lflag |= ICANON | ECHO | ISIG; }},
    };
    for (const Case& c : cases) {
        termios t = raw;
        c.change(t);
        EXPECT_EQ(camsim::line_settings_fault(t), c.reason);
    }
}

TEST(UartFifoBursts, BytesReachTheFirmwareByEightOrAfterFourIdleByteTimes)
{
    using camsim::kByteTime;
    using camsim::LineByte;
    camsim::UartFifo fifo;
    std::vector<LineByte> burst;
    for (int i = 1; i <= 3; ++i) {
        fifo.push({static_cast<uint8_t>(i), kT0 + kByteTime * i, false}, burst);
    }
    EXPECT_TRUE(burst.empty());
    fifo.flush_idle(kT0 + kByteTime * 7 - std::chrono::nanoseconds(1), burst);
    EXPECT_TRUE(burst.empty());
    fifo.flush_idle(kT0 + kByteTime * 7, burst);
    EXPECT_EQ(burst.size(), 3U);

    burst.clear();
    for (int i = 1; i <= 9; ++i) {
        fifo.push({static_cast<uint8_t>(i), kT0 + kByteTime * (10 + i), false}, burst);
        EXPECT_EQ(burst.size(), i < 8 ? 0U : 8U) << i;
    }
    EXPECT_EQ(burst.back().value, 8);
    // A gap of 3 byte times is not yet the time-out: the next byte joins the one held.
    burst.clear();
    fifo.push({0x41, kT0 + kByteTime * 23, false}, burst);
    EXPECT_TRUE(burst.empty());
    // A byte after an idle line: what was held goes first, on its own.
    fifo.push({0x42, kT0 + kByteTime * 40, false}, burst);
    ASSERT_EQ(burst.size(), 2U);
    EXPECT_EQ(burst[0].value, 9);
    EXPECT_EQ(burst[1].value, 0x41);
}

// The simulator on a real pty, its times given explicitly; the test plays the firmware.
class SimulatorOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/camera_model_test.XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_dir = dir;
        std::string error;
        ASSERT_TRUE(sim.open(m_dir + "/ttyPS1", error)) << error;
        m_fd = ::open((m_dir + "/ttyPS1").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(m_fd, 0);
    }
    void TearDown() override
    {
        ::close(m_fd);
        ::rmdir(m_dir.c_str());
    }

    // Writes a packet as the firmware and lets the simulator read it at `now`.
    void firmware_writes(const Bytes& packet, TimePoint now)
    {
        ASSERT_EQ(::write(m_fd, packet.data(), packet.size()), static_cast<ssize_t>(packet.size()));
        pollfd p{sim.master_fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        sim.on_readable(now);
    }
    // What the firmware can read now (waits up to a deadline for `expected` bytes).
    Bytes firmware_reads(size_t expected)
    {
        Bytes got;
        pollfd p{m_fd, POLLIN, 0};
        while (got.size() < expected && ::poll(&p, 1, 2000) == 1) {
            uint8_t buffer[64];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    // Nothing for the firmware to read (after a short look).
    bool firmware_reads_nothing()
    {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, 20) == 0;
    }
    std::string state(const std::string& name)
    {
        bool quit = false;
        return value_in(sim.control("state", kT0, quit), name);
    }

    camsim::Simulator sim{kT0};
    std::string m_dir;
    int m_fd = -1;
};

TEST_F(SimulatorOnPty, StrictModeDeliversTheRepliesAsOneBurst)
{
    sim.set_strict(true);
    EXPECT_EQ(state("strict"), "1");
    const Bytes packet = kExposureManual;
    firmware_writes(packet, kT0);
    const TimePoint received = kT0 + camsim::kByteTime * static_cast<int>(packet.size());
    // Acknowledgement and completion leave back to back (6 bytes, the completion 2 ms after the
    // acknowledgement); the FIFO hands them over 4 byte times after the last one.
    TimePoint t = received;
    const TimePoint last_byte = received + kDelay + camsim::kByteTime * 6;
    for (; t < last_byte + camsim::kByteTime * 4; t += Millis(1)) {
        sim.tick(t);
    }
    EXPECT_TRUE(firmware_reads_nothing());
    sim.tick(last_byte + camsim::kByteTime * 4);
    EXPECT_EQ(firmware_reads(6), (Bytes{0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF}));
}

TEST_F(SimulatorOnPty, PacketsOnAMisSetLineAreIgnoredAndRecorded)
{
    termios t = {};
    ASSERT_EQ(::tcgetattr(m_fd, &t), 0);
    t.c_lflag |= ICANON;
    ASSERT_EQ(::tcsetattr(m_fd, TCSANOW, &t), 0);
    firmware_writes({0x81, 0x09, 0x04, 0x39, 0xFF}, kT0);
    sim.tick(kT0 + Millis(100));
    EXPECT_TRUE(firmware_reads_nothing());
    EXPECT_EQ(state("line"), "icanon");
    bool quit = false;
    EXPECT_EQ(sim.control("history", kT0, quit), "81 09 04 39 FF (ignored: icanon)\nok\n");

    t.c_lflag &= ~tcflag_t{ICANON};
    ASSERT_EQ(::tcsetattr(m_fd, TCSANOW, &t), 0);
    firmware_writes({0x81, 0x09, 0x04, 0x39, 0xFF}, kT0 + Millis(200));
    for (TimePoint at = kT0 + Millis(200); at < kT0 + Millis(300); at += Millis(1)) {
        sim.tick(at);
    }
    EXPECT_EQ(firmware_reads(4), (Bytes{0x90, 0x50, 0x00, 0xFF}));
    EXPECT_EQ(state("line"), "ok");
}

TEST_F(SimulatorOnPty, NoiseFillsTheLineBetweenReplies)
{
    bool quit = false;
    ASSERT_EQ(sim.control("noise on", kT0, quit), "ok\n");
    EXPECT_EQ(state("noise"), "1");
    EXPECT_EQ(state("line_busy"), "0");
    for (TimePoint at = kT0; at <= kT0 + Millis(10); at += Millis(1)) {
        sim.tick(at);
    }
    const Bytes noise = firmware_reads(9);
    EXPECT_EQ(noise, Bytes(9, 0x00));
    ASSERT_EQ(sim.control("noise off", kT0, quit), "ok\n");
    EXPECT_EQ(state("noise"), "0");
}

TEST(SimulatorControl, DelaysAndNoiseTakeOnlyValidArguments)
{
    camsim::Simulator sim(kT0);
    bool quit = false;
    for (const char* bad : {"processing-delay", "processing-delay -1", "processing-delay x",
                            "noise", "noise maybe"}) {
        EXPECT_EQ(sim.control(bad, kT0, quit).rfind("error: ", 0), 0U) << bad;
    }
    EXPECT_EQ(sim.control("processing-delay 7", kT0, quit), "ok\n");
    EXPECT_NE(sim.control("state", kT0, quit).find("\nprocessing_delay_ms=7\n"), std::string::npos);
}

}  // namespace
