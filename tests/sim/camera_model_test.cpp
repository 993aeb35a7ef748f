// The camera-module simulator's model and line, driven with explicit times.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
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
        {"absolute, tilt speed 00 (synchronised)",
         {0x81, 0x01, 0x06, 0x02, 0x01, 0x00, 0, 0, 0, 1, 0, 0, 0, 1, 0xFF},
         ack},
        {"relative, tilt speed 00 (synchronised)",
         {0x81, 0x01, 0x06, 0x03, 0x01, 0x00, 0, 0, 0, 1, 0, 0, 0, 1, 0xFF},
         ack},
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
        // The check the PTZ fuzz target applies to every command left in the engine's table.
        EXPECT_EQ(model.accepts_command(c.packet), c.reply == ack) << c.what;
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

// One packet the test sends at `at` (ms after the start) and the answer it expects at once.
struct Sent {
    int at;
    Bytes packet;
    Bytes answer;
};

// A completion that comes out of the model and when it is due (ms after the start).
struct Completion {
    Bytes packet;
    int due;
};

// Packets sent at given times, then every completion collected at `collect`: which come out, in
// which order and when, what the state shows then, and whether anything is still to come.
struct Scenario {
    const char* what;
    std::vector<Sent> sent;
    int collect;
    std::vector<Completion> completions;
    std::vector<std::pair<const char*, const char*>> state;
    bool more_to_come;
    FaultKind fault = FaultKind::none;  // for the first packet
};

TEST(CameraModelSockets, CommandsTakeAFreeSocketAndCompleteWhenTheyReallyEnd)
{
    const Bytes ack1{0x90, 0x41, 0xFF};
    const Bytes ack2{0x90, 0x42, 0xFF};
    const Bytes done1{0x90, 0x51, 0xFF};
    const Bytes done2{0x90, 0x52, 0xFF};
    const Bytes full{0x90, 0x60, 0x03, 0xFF};
    const Bytes notexec1{0x90, 0x61, 0x41, 0xFF};
    const Bytes standby{0x81, 0x01, 0x04, 0x00, 0x03, 0xFF};
    const Bytes clear{0x81, 0x01, 0x00, 0x01, 0xFF};
    const Bytes broadcast_clear{0x88, 0x01, 0x00, 0x01, 0xFF};
    const int d = static_cast<int>(kDelay.count());
    const Scenario scenarios[] = {
        {"a setting while a move runs: socket 2, completed; the move goes on",
         {{0, kSlowPan, ack1},
          {50, kExposureManual, ack2},
          {60, {0x81, 0x09, 0x04, 0x39, 0xFF}, {0x90, 0x50, 0x03, 0xFF}}},
         100,
         {{done2, 50 + 2 * d}},
         {{"socket1", "busy"}, {"socket2", "idle"}},
         true},
        {"both sockets busy: buffer full, nothing changes",
         {{0, kSlowPan, ack1},
          {10, kSlowZoom, ack2},
          {20, kPtStop, full},
          {20, kExposureManual, full}},
         500,
         {},
         {{"moving", "1"}, {"ExpMode", "0"}},
         true},
        {"a move arriving after a short command on socket 2; collected late, in due order",
         {{0, kPan240, ack1}, {10, kExposureManual, ack2}},
         200,
         {{done2, 10 + 2 * d}, {done1, 100 + d}},
         {{"pan", "240"}},
         false},
        {"a move stopped by a later drive completes at the stop, before the stop",
         {{0, kSlowPan, ack1}, {300, kPtStop, ack2}},
         1000,
         {{done1, 300 + d}, {done2, 300 + 2 * d}},
         {{"pan", "30"}},
         false},
        {"cancel: a busy socket ends without completion, an idle one has no socket",
         {{0, kSlowPan, ack1},
          {500, {0x81, 0x21, 0xFF}, {0x90, 0x61, 0x04, 0xFF}},
          {500, {0x81, 0x22, 0xFF}, {0x90, 0x62, 0x05, 0xFF}}},
         60000,
         {},
         {{"pan", "50"}, {"socket1", "idle"}},
         false},
        {"interface clear drops every pending completion",
         {{0, kSlowPan, ack1}, {10, kSlowZoom, ack2}, {100, clear, {0x90, 0x50, 0xFF}}},
         60000,
         {},
         {{"moving", "0"}, {"pan", "10"}},
         false},
        {"the broadcast interface clear is passed on and drops them too",
         {{0, kSlowPan, ack1}, {10, kSlowZoom, ack2}, {100, broadcast_clear, broadcast_clear}},
         60000,
         {},
         {{"moving", "0"}, {"pan", "10"}},
         false},
        {"no completion: acknowledged, carried out, the socket free at once",
         {{0, kExposureManual, ack1}},
         100,
         {},
         {{"socket1", "idle"}, {"ExpMode", "3"}},
         false,
         FaultKind::nocomp},
        {"the mute toggle byte swaps the setting",
         {{0, {0x81, 0x01, 0x04, 0x75, 0x10, 0xFF}, ack1}},
         100,
         {{done1, 2 * d}},
         {{"Mute", "2"}},
         false},
        {"standby: only power on, inquiries, cancel and clear work",
         {{0, standby, ack1},
          {20, kExposureManual, notexec1},
          {20, kPan240, notexec1},
          {20, standby, notexec1},
          {20, {0x81, 0x09, 0x04, 0x00, 0xFF}, {0x90, 0x50, 0x03, 0xFF}},
          {20, {0x81, 0x21, 0xFF}, {0x90, 0x61, 0x05, 0xFF}},
          {20, clear, {0x90, 0x50, 0xFF}},
          {30, {0x81, 0x01, 0x04, 0x00, 0x02, 0xFF}, ack1}},
         100,
         {{done1, 2 * d}, {done1, 30 + 2 * d}},
         {{"Power", "2"}, {"ExpMode", "0"}, {"pan", "0"}},
         false},
    };
    for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(sc.what);
        CameraModel model;
        model.set_fault(sc.fault, 1);
        std::vector<Reply> out;
        for (const Sent& sent : sc.sent) {
            const TimePoint at = kT0 + Millis(sent.at);
            // Completions fall due between the packets; they are collected as the simulator does.
            for (Reply& r : model.advance(at)) {
                out.push_back(std::move(r));
            }
            const std::vector<Reply> answers = model.handle_packet(sent.packet, at);
            ASSERT_FALSE(answers.empty()) << camsim::hex(sent.packet);
            for (size_t i = 0; i + 1 < answers.size(); ++i) {
                out.push_back(answers[i]);  // completions that fell due by then come first
            }
            EXPECT_EQ(answers.back().bytes, sent.answer) << camsim::hex(sent.packet);
            EXPECT_EQ(answers.back().due, at + kDelay) << camsim::hex(sent.packet);
        }
        const TimePoint collect = kT0 + Millis(sc.collect);
        for (Reply& r : model.advance(collect)) {
            out.push_back(std::move(r));
        }
        std::vector<Completion> got;
        got.reserve(out.size());
        for (const Reply& r : out) {
            got.push_back({r.bytes, static_cast<int>(std::lround(ms_between(kT0, r.due)))});
        }
        ASSERT_EQ(got.size(), sc.completions.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].packet, sc.completions[i].packet) << i;
            EXPECT_EQ(got[i].due, sc.completions[i].due) << i;
        }
        for (const auto& [name, value] : sc.state) {
            EXPECT_EQ(state_value(model, name, collect), value) << name;
        }
        EXPECT_EQ(model.next_event().has_value(), sc.more_to_come);
    }
}

// Drive direction 01 is left (towards negative pan positions) and up (positive tilt); a move with
// tilt speed 00 brings tilt to its target when pan arrives at its own.
TEST(CameraModelMotion, DirectionsAndSynchronisedTilt)
{
    struct Case {
        const char* what;
        Bytes packet;
        const char* pan;  // 500 ms later
        const char* tilt;
    };
    const Case cases[] = {
        {"left and up", {0x81, 0x01, 0x06, 0x01, 0x10, 0x10, 0x01, 0x01, 0xFF}, "-800", "800"},
        {"right and down", {0x81, 0x01, 0x06, 0x01, 0x10, 0x08, 0x02, 0x02, 0xFF}, "800", "-400"},
        // To pan 2400, tilt 0x4B0 = 1200 at 2400 units/s: both arrive after 1 s.
        {"synchronised move",
         {0x81, 0x01, 0x06, 0x02, 0x18, 0x00, 0, 9, 6, 0, 0, 4, 0x0B, 0, 0xFF},
         "1200",
         "600"},
    };
    for (const Case& c : cases) {
        CameraModel model;
        model.handle_packet(c.packet, kT0);
        EXPECT_EQ(state_value(model, "pan", kT0 + Millis(500)), c.pan) << c.what;
        EXPECT_EQ(state_value(model, "tilt", kT0 + Millis(500)), c.tilt) << c.what;
    }
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
