// The device-access module and the encoder-device simulator together: the requests of a start as
// the simulator records them, frames with rotating buffer indices, real SpeedHQ pictures that
// libavcodec decodes, field parity, pacing, fault injection and the handling of bad messages.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "NdiTransmitter/SpeedHqDevice.h"
#include "speedhq_decode.h"
#include "support/speedhq_sim.h"
#include "support/temp_board_root.h"
#include "vantor/file_io.h"

namespace {

namespace proto = speedhq_protocol;
using vantor::test::SpeedHqSimProcess;
using vantor::test::TempBoardRoot;

struct Frame {
    int index = 0;
    SpeedHqDevice::StatusRecord status{};
    std::int32_t field = -1;
    std::vector<std::uint8_t> program;
    std::vector<std::uint8_t> preview;
};

// 75% bars of the test pattern (BT.709, limited range): white, yellow, cyan, green, magenta, red,
// blue, as Y, Cb, Cr.
constexpr int kBars[7][3] = {{180, 128, 128}, {168, 44, 136}, {145, 147, 44}, {134, 63, 52},
                             {63, 193, 204},  {51, 109, 212}, {28, 212, 120}};

bool header_is_single_field(const std::vector<std::uint8_t>& picture)
{
    return picture.size() >= 4 && picture[0] <= 99 && picture[1] == 4 && picture[2] == 0 &&
           picture[3] == 0;
}

// Decodes a picture and checks its size, chroma layout and the colour bars it must show.
void expect_test_pattern(const std::vector<std::uint8_t>& bytes, int width, int height,
                         bool chroma420, DecodedPicture& decoded)
{
    std::string error;
    ASSERT_TRUE(decode_speedhq(bytes, width, height, chroma420, decoded, error)) << error;
    EXPECT_EQ(decoded.width, width);
    EXPECT_EQ(decoded.height, height);
    EXPECT_EQ(decoded.chroma420, chroma420);
    const int y = height / 6;
    for (int bar = 0; bar < 7; ++bar) {
        SCOPED_TRACE("bar " + std::to_string(bar));
        const int x = width * (2 * bar + 1) / 14;
        EXPECT_NEAR(decoded.luma(x, y), kBars[bar][0], 8);
        EXPECT_NEAR(decoded.cb(x, y), kBars[bar][1], 8);
        EXPECT_NEAR(decoded.cr(x, y), kBars[bar][2], 8);
    }
}

class SpeedHqSim : public ::testing::Test {
protected:
    SpeedHqSim() { m_root.make_dir("/dev"); }

    void start_sim(const std::vector<std::string>& options)
    {
        m_sim = std::make_unique<SpeedHqSimProcess>(VANTOR_BIN_DIR, socket_path(), options);
        ASSERT_TRUE(m_sim->ready());
        ASSERT_TRUE(m_device.open());
        ASSERT_EQ(m_device.transport(), SpeedHqDevice::Transport::Socket);
    }
    std::string socket_path() const { return m_root / kVantorSpeedHqDevicePath; }

    int request(std::uint32_t code, std::int32_t value) { return m_device.request(code, value); }

    // The encoder application's start of encoding for one format, then the frame thread's start.
    void start_encode(std::int32_t mode, std::int32_t video_2k_4k, std::int32_t chroma420)
    {
        EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_VIN_INSEL, 7), 0);
        EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_DCI, 0), 0);
        EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_STOP), 0);
        EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_VM_UV_VU, 0), 0);
        EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_MODE_SEL, mode), 0);
        EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_VM_2k_4k, video_2k_4k), 0);
        EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_STOP), 0);
        EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_START), 0);
        EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_STOP), 0);
        EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_CS_SEL, chroma420), 0);
        EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_START), 0);
    }

    // Waits for one frame and reads its status, field, program and preview picture as the frame
    // thread does. False (errno set) when the wait or the status read fails.
    bool next_frame(Frame& frame)
    {
        std::int32_t selector = VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME;
        if (m_device.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, selector) != 0) {
            return false;
        }
        frame.index = m_device.read_status(frame.status);
        const int saved_errno = errno;
        std::int32_t field = 0;
        EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_GET_FIELD, field), 0);
        frame.field = field;
        read_picture(VANTOR_SPEEDHQ_RD_SEL_PROGRAM, frame.program);
        read_picture(VANTOR_SPEEDHQ_RD_SEL_PREVIEW, frame.preview);
        errno = saved_errno;
        return frame.index >= 0;
    }

    // The first frame after a start: the simulator encodes a configuration's pictures when it is
    // first waited on, and its waits fail with ETIMEDOUT until they exist.
    bool first_frame(Frame& frame)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!next_frame(frame)) {
            if (errno != ETIMEDOUT || std::chrono::steady_clock::now() > deadline) {
                return false;
            }
        }
        return true;
    }

    void read_picture(std::int32_t selector, std::vector<std::uint8_t>& picture)
    {
        EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, selector), 0);
        std::int32_t length = 0;
        ASSERT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_READ_LENGTH, length), 0);
        ASSERT_GT(length, 4);
        picture.assign(static_cast<std::size_t>(length), 0);
        EXPECT_EQ(m_device.read(picture.data(), picture.size()), length);
    }

    // A frame wait that must fail: returns its errno.
    int failed_wait()
    {
        std::int32_t selector = VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME;
        errno = 0;
        EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, selector), -1);
        return errno;
    }

    TempBoardRoot m_root;
    std::unique_ptr<SpeedHqSimProcess> m_sim;
    SpeedHqDevice m_device;
};

struct FormatCase {
    const char* name;
    std::int32_t mode;
    std::int32_t video_2k_4k;
    std::int32_t chroma420;
    int width;
    int height;
    bool fields;
};

class SpeedHqSimFormat : public SpeedHqSim, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(SpeedHqSimFormat, StartIsRecordedAndFramesCarryDecodablePicturesWithRotatingIndices)
{
    const FormatCase& format = GetParam();
    start_sim({"--rate", "0", "--loop", "4", "--wait-timeout", "300"});
    start_encode(format.mode, format.video_2k_4k, format.chroma420);
    const std::vector<std::string> expected = {"12=7",
                                               "4=0",
                                               "1",
                                               "8=0",
                                               "11=" + std::to_string(format.mode),
                                               "7=" + std::to_string(format.video_2k_4k),
                                               "1",
                                               "0",
                                               "1",
                                               "3=" + std::to_string(format.chroma420),
                                               "0"};
    EXPECT_EQ(m_sim->requests(), expected);

    std::vector<Frame> frames(10);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        Frame& frame = frames[i];
        ASSERT_TRUE(i == 0 ? first_frame(frame) : next_frame(frame)) << std::strerror(errno);
        // Indices 1 to 5 in turn; word 4 holds the previous one (5 before the first).
        EXPECT_EQ(frame.index, static_cast<int>(i % 5) + 1);
        EXPECT_EQ(frame.status[VANTOR_SPEEDHQ_STATUS_PREVIOUS_INDEX_WORD],
                  i == 0 ? 5 : frames[i - 1].index);
        EXPECT_TRUE(header_is_single_field(frame.program));
        EXPECT_TRUE(header_is_single_field(frame.preview));
        EXPECT_EQ(frame.field, format.fields ? static_cast<int>(i % 2) : 0);
    }
    // Successive pictures differ (the counter and the moving box); the loop comes round again.
    EXPECT_NE(frames[0].program, frames[1].program);
    EXPECT_EQ(frames[0].program, frames[4].program);
    EXPECT_EQ(frames[1].preview, frames[5].preview);

    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE("decoding frame " + std::to_string(i));
        DecodedPicture program;
        expect_test_pattern(frames[i].program, format.width, format.height, format.chroma420 == 1,
                            program);
        DecodedPicture preview;
        expect_test_pattern(frames[i].preview, 640, 360, true, preview);
        if (format.fields && !program.planes[0].empty()) {
            // The field marker in the picture sits where the reported parity says.
            const int scale = format.height / 60;
            const int y = format.height * 3 / 4 + 4 * scale;
            const int left = format.width / 16 + 2 * scale;
            const int right = format.width - format.width / 16 - 2 * scale;
            const bool field1 = frames[i].field == 1;
            EXPECT_GT(program.luma(field1 ? right : left, y), 200);
            EXPECT_LT(program.luma(field1 ? left : right, y), 40);
        }
    }

    // Once stopped, no frame completes: the wait fails after the simulator's wait time-out.
    EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_STOP), 0);
    EXPECT_EQ(failed_wait(), ETIMEDOUT);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SpeedHqSimFormat,
    ::testing::Values(FormatCase{"p2160", VANTOR_SPEEDHQ_MODE_2160P, 1, 0, 3840, 2160, false},
                      FormatCase{"i1080", VANTOR_SPEEDHQ_MODE_1080I, 0, 1, 1920, 540, true},
                      FormatCase{"p720", VANTOR_SPEEDHQ_MODE_720P, 0, 0, 1280, 720, false}),
    [](const ::testing::TestParamInfo<FormatCase>& param_info) {
        return std::string(param_info.param.name);
    });

TEST_F(SpeedHqSim, ProgramChromaFollowsTheChromaRequestOfEachStart)
{
    start_sim({"--rate", "0", "--loop", "2"});
    for (const std::int32_t chroma420 : {1, 0, 1}) {
        SCOPED_TRACE("chroma request " + std::to_string(chroma420));
        start_encode(VANTOR_SPEEDHQ_MODE_1080P, 0, chroma420);
        Frame frame;
        ASSERT_TRUE(first_frame(frame));
        DecodedPicture decoded;
        expect_test_pattern(frame.program, 1920, 1080, chroma420 == 1, decoded);
    }
}

// Paced delivery: frame k after a start completes k periods after it at the earliest, so twelve
// frames at 59.94 per second cannot arrive within less than twelve periods of the start.
TEST_F(SpeedHqSim, FramesAreHandedOutNoFasterThanTheModesRate)
{
    start_sim({"--loop", "2"});
    start_encode(VANTOR_SPEEDHQ_MODE_720P, 0, 1);
    Frame frame;
    ASSERT_TRUE(first_frame(frame));  // the pictures exist from now on
    EXPECT_NE(m_sim->command("status").find("rate=59.94"), std::string::npos);
    EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_STOP), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_START), 0);
    auto last_number = static_cast<std::uint32_t>(frame.status[0]);
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(next_frame(frame));
        const auto number = static_cast<std::uint32_t>(frame.status[0]);
        EXPECT_GT(number, last_number);
        last_number = number;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count(),
              12 * 1001000 / 60);
}

TEST_F(SpeedHqSim, PicturesComeAtTheRateOfTheFormatOfEachStart)
{
    struct Case {
        const char* settings;  // the encoder settings file; nullptr: none
        std::int32_t mode;
        const char* rate;  // as the status line shows it
    };
    const Case cases[] = {
        {R"({"VideoFormat":"1080p25","VideoSampleRate":"422"})", VANTOR_SPEEDHQ_MODE_1080P,
         "rate=25.000000"},
        {R"({"VideoFormat":"1080i50"})", VANTOR_SPEEDHQ_MODE_1080I, "rate=50.000000"},
        {R"({"VideoFormat":"2160p24"})", VANTOR_SPEEDHQ_MODE_2160P, "rate=24.000000"},
        {R"({"VideoFormat":"2160p30"})", VANTOR_SPEEDHQ_MODE_2160P, "rate=29.970030"},
        {R"({"VideoFormat":"720p59.94"})", VANTOR_SPEEDHQ_MODE_720P, "rate=59.940060"},
        {R"({"VideoFormat":"1080p23.97"})", VANTOR_SPEEDHQ_MODE_1080P, "rate=23.976024"},
        // A format of another mode, or none: the mode's own rate.
        {R"({"VideoFormat":"2160p24"})", VANTOR_SPEEDHQ_MODE_1080P, "rate=59.940060"},
        {R"({"VideoFormat":"1080p50"})", VANTOR_SPEEDHQ_MODE_2160P, "rate=29.970030"},
        {nullptr, VANTOR_SPEEDHQ_MODE_1080I, "rate=59.940060"},
    };
    m_root.make_dir("/etc");
    const std::string settings = m_root / "/etc/vantor-enc1-settings.json";
    start_sim({"--loop", "2"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings != nullptr ? c.settings : "no settings");
        if (c.settings != nullptr) {
            vantor::test::write_text(settings, c.settings);
        } else {
            ::unlink(settings.c_str());
        }
        start_encode(c.mode, c.mode == VANTOR_SPEEDHQ_MODE_2160P ? 1 : 0, 0);
        EXPECT_NE(m_sim->command("status").find(c.rate), std::string::npos)
            << m_sim->command("status");
    }
}

TEST_F(SpeedHqSim, AWaitTimeOutNotBelowTheClientsReplyTimeOutIsRefused)
{
    for (const char* timeout : {"4001", "5000", "600000"}) {
        SCOPED_TRACE(timeout);
        const SpeedHqSimProcess sim(VANTOR_BIN_DIR, socket_path(), {"--wait-timeout", timeout});
        EXPECT_FALSE(sim.ready());
    }
}

// At the longest wait time-out the simulator takes, a failed wait still reaches the client in
// time: the connection survives a stall and the stream comes back with "resume".
TEST_F(SpeedHqSim, AtTheLongestWaitTimeOutAStallThenResumeStreamsAgain)
{
    start_sim(
        {"--rate", "0", "--loop", "2", "--wait-timeout", std::to_string(proto::kMaxWaitTimeoutMs)});
    start_encode(VANTOR_SPEEDHQ_MODE_720P, 0, 0);
    Frame frame;
    ASSERT_TRUE(first_frame(frame));
    EXPECT_EQ(m_sim->command("stall"), "ok stalled");
    EXPECT_EQ(failed_wait(), ETIMEDOUT);
    EXPECT_EQ(m_sim->command("resume"), "ok resumed");
    EXPECT_TRUE(next_frame(frame)) << std::strerror(errno);
}

TEST_F(SpeedHqSim, TheDefaultRateIsSetByTheModeAndTheRateCommandOverridesIt)
{
    start_sim({"--rate", "0", "--loop", "2"});
    EXPECT_EQ(m_sim->command("rate default"), "ok rate 59.940060");
    start_encode(VANTOR_SPEEDHQ_MODE_1080I, 0, 1);
    EXPECT_NE(m_sim->command("status").find("mode=3 chroma=420 rate=59.94"), std::string::npos);
    EXPECT_EQ(m_sim->command("rate 25"), "ok rate 25.000000");
    EXPECT_EQ(m_sim->command("rate fast").rfind("error", 0), 0U);
    EXPECT_EQ(m_sim->command("rate -1").rfind("error", 0), 0U);
}

TEST_F(SpeedHqSim, FaultCommandsShowInTheFramesThatFollow)
{
    start_sim({"--rate", "0", "--loop", "2", "--wait-timeout", "300"});
    start_encode(VANTOR_SPEEDHQ_MODE_720P, 0, 1);
    Frame frame;
    ASSERT_TRUE(first_frame(frame));

    // A repeated index: the buffer just completed is the one before (index equals word 4).
    EXPECT_EQ(m_sim->command("repeat"), "ok repeat 1");
    ASSERT_TRUE(next_frame(frame));
    EXPECT_EQ(frame.index, frame.status[VANTOR_SPEEDHQ_STATUS_PREVIOUS_INDEX_WORD]);
    ASSERT_TRUE(next_frame(frame));
    EXPECT_NE(frame.index, frame.status[VANTOR_SPEEDHQ_STATUS_PREVIOUS_INDEX_WORD]);

    // Bad indices, for as many frames as asked.
    EXPECT_EQ(m_sim->command("index 0"), "ok index 0 1");
    ASSERT_TRUE(next_frame(frame));
    EXPECT_EQ(frame.index, 0);
    EXPECT_EQ(m_sim->command("index 6 2"), "ok index 6 2");
    ASSERT_TRUE(next_frame(frame));
    EXPECT_EQ(frame.index, 6);
    ASSERT_TRUE(next_frame(frame));
    EXPECT_EQ(frame.index, 6);
    // The frame thread's recovery from an index above 5: stop, start, and frames flow again.
    EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_STOP), 0);
    EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_START), 0);
    ASSERT_TRUE(next_frame(frame));
    EXPECT_GE(frame.index, 1);
    EXPECT_LE(frame.index, 5);
    EXPECT_EQ(m_sim->command("index -1"), "ok index -1 1");
    EXPECT_FALSE(next_frame(frame));
    EXPECT_EQ(frame.index, -1);
    EXPECT_EQ(errno, EIO);

    // A corrupt header on the next program picture only, then on the next preview.
    EXPECT_EQ(m_sim->command("corrupt"), "ok corrupt program 1");
    ASSERT_TRUE(next_frame(frame));
    EXPECT_FALSE(header_is_single_field(frame.program));
    EXPECT_TRUE(header_is_single_field(frame.preview));
    EXPECT_EQ(m_sim->command("corrupt preview"), "ok corrupt preview 1");
    ASSERT_TRUE(next_frame(frame));
    EXPECT_TRUE(header_is_single_field(frame.program));
    EXPECT_FALSE(header_is_single_field(frame.preview));
    ASSERT_TRUE(next_frame(frame));
    EXPECT_TRUE(header_is_single_field(frame.preview));

    // A stall: waits fail until the encoder resumes.
    EXPECT_EQ(m_sim->command("stall"), "ok stalled");
    EXPECT_EQ(failed_wait(), ETIMEDOUT);
    EXPECT_EQ(failed_wait(), ETIMEDOUT);
    EXPECT_EQ(m_sim->command("resume"), "ok resumed");
    EXPECT_TRUE(next_frame(frame));

    EXPECT_EQ(m_sim->command("corrupt sideways").rfind("error", 0), 0U);
    EXPECT_EQ(m_sim->command("index").rfind("error", 0), 0U);
    EXPECT_EQ(m_sim->command("repeat 0").rfind("error", 0), 0U);
    EXPECT_EQ(m_sim->command("explode").rfind("error", 0), 0U);
}

TEST_F(SpeedHqSim, BadRequestsGetTheDriversErrors)
{
    start_sim({"--rate", "0", "--loop", "2"});
    std::uint8_t buffer[64];
    errno = 0;
    EXPECT_EQ(m_device.read(buffer, sizeof(buffer)), -1);  // nothing selected yet
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_READ_LENGTH, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(m_device.request(99), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(m_device.request(2), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_CS_SEL), -1);  // no argument
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_MODE_SEL, 4), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, 4), -1);
    EXPECT_EQ(errno, EINVAL);

    // A status read must ask for the six words.
    start_encode(VANTOR_SPEEDHQ_MODE_720P, 0, 1);
    Frame frame;
    ASSERT_TRUE(first_frame(frame));
    EXPECT_EQ(request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME), 0);
    EXPECT_EQ(m_device.read(buffer, 24), -1);
    EXPECT_EQ(errno, EINVAL);
    // The connection is still in step.
    EXPECT_TRUE(next_frame(frame));
}

TEST_F(SpeedHqSim, AMalformedMessageIsRefusedAndTheConnectionClosed)
{
    start_sim({"--rate", "0", "--loop", "2"});
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socket_path();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const auto exchange = [&address](const std::string& message, std::string& answer) {
        vantor::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)),
                  0);
        ASSERT_TRUE(vantor::write_all(fd.get(), message));
        answer.clear();
        char chunk[256];
        for (ssize_t n = 0; (n = ::read(fd.get(), chunk, sizeof(chunk))) > 0;) {
            answer.append(chunk, static_cast<std::size_t>(n));
            if (answer.size() >= proto::kResponseHeaderSize && answer[4] != 0) {
                break;  // an answer to a good request: the connection stays open
            }
        }
    };
    const auto header_of = [](const std::string& answer, proto::ResponseHeader& header) {
        std::uint8_t bytes[proto::kResponseHeaderSize];
        std::memcpy(bytes, answer.data(), sizeof(bytes));
        return proto::decode_response_header(bytes, header);
    };

    std::string answer;
    exchange("GET / HTTP/1.0\r\n\r\n", answer);            // not this protocol at all
    ASSERT_EQ(answer.size(), proto::kResponseHeaderSize);  // the refusal, then end of stream
    proto::ResponseHeader header;
    ASSERT_TRUE(header_of(answer, header));
    EXPECT_EQ(header.kind, proto::kRefused);
    EXPECT_EQ(header.result, -1);
    EXPECT_EQ(header.error, EPROTO);

    // A read larger than any picture is refused without reading anything.
    proto::Request huge;
    huge.kind = proto::kRead;
    huge.code = proto::kMaxReadCount + 1;
    std::uint8_t bytes[proto::kRequestSize];
    proto::encode_request(huge, bytes);
    exchange(std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes)), answer);
    ASSERT_TRUE(header_of(answer, header));
    EXPECT_EQ(header.kind, proto::kRead);
    EXPECT_EQ(header.result, -1);
    EXPECT_EQ(header.error, EINVAL);
    EXPECT_EQ(header.payload_size, 0U);

    // The simulator still serves everyone else.
    EXPECT_EQ(m_device.request(VANTOR_SPEEDHQ_IOCTL_STOP), 0);
}

TEST_F(SpeedHqSim, TheRequestLogFileListsWhatTheSimulatorRecords)
{
    const std::string log = m_root / "/tmp-speedhq.log";
    start_sim({"--rate", "0", "--loop", "2", "--log", log});
    start_encode(VANTOR_SPEEDHQ_MODE_720P, 0, 0);
    Frame frame;
    ASSERT_TRUE(first_frame(frame));
    const std::vector<std::string> recorded = m_sim->requests();
    std::string expected;
    for (const std::string& entry : recorded) {
        expected += entry + "\n";
    }
    EXPECT_EQ(vantor::test::read_text(log), expected);
    EXPECT_EQ(recorded.at(11), "10=1");
    // The wait that got the frame, then the frame thread's reads.
    const std::vector<std::string> tail(recorded.end() - 9, recorded.end());
    const std::vector<std::string> expected_tail = {
        "10=1", "read:6", "9=0",
        "10=2", "21=0",   "read:" + std::to_string(frame.program.size()),
        "10=3", "21=0",   "read:" + std::to_string(frame.preview.size())};
    EXPECT_EQ(tail, expected_tail);
    EXPECT_EQ(m_sim->command("clear-requests"), "ok");
    EXPECT_TRUE(m_sim->requests().empty());
}

TEST(SpeedHqSimProgram, HelpExplainsTheOptionsAndCommands)
{
    vantor::test::TempDir dir;
    const std::string out = dir / "help.txt";
    const std::string command = std::string(VANTOR_BIN_DIR) + "/speedhq-sim --help > " + out;
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string help = vantor::test::read_text(out);
    for (const char* word :
         {"--control", "--log", "--rate", "--loop", "--settings", "--wait-timeout", "stall",
          "resume", "repeat", "index", "corrupt", "29.97", "59.94"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
    const std::string bad = std::string(VANTOR_BIN_DIR) + "/speedhq-sim --rate x y 2>/dev/null";
    EXPECT_NE(std::system(bad.c_str()), 0);
}

}  // namespace
