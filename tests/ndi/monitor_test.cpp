// The ndi-monitor program against a sender started by this test.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <png.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "SpeedHqEncoder.h"
#include "ndi_test_util.h"

namespace vantor::test {
namespace {

struct MonitorRun {
    int status = -1;
    std::string output;
};

// Runs ndi-monitor with `arguments` (already quoted for the shell), standard error included.
MonitorRun run_monitor(const std::string& arguments)
{
    const std::string command = std::string(VANTOR_BIN_DIR) + "/ndi-monitor " + arguments + " 2>&1";
    MonitorRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot start " << command;
        return run;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.output.append(buffer, got);
    }
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Feeds a sender like the camera does: program and preview pictures, audio, status metadata.
class Feeder {
public:
    // `program_picture`: the bytes of every program picture (default: not SpeedHQ).
    explicit Feeder(NDIlib_send_instance_t sender,
                    std::vector<std::uint8_t> program_picture = pattern(20000, 5))
        : program(std::move(program_picture)), m_sender(sender)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~Feeder()
    {
        m_running = false;
        m_thread.join();
        NDIlib_send_send_video_async_v2(m_sender, nullptr);
    }
    bool saw_program_tally() const { return m_program_tally; }

    std::vector<std::uint8_t> program;  // set before the thread starts, never changed
    std::vector<std::uint8_t> preview = pattern(3000, 6);

private:
    void run()
    {
        std::vector<float> samples(960, 0.0F);
        bool greeted = false;
        while (m_running) {
            NDIlib_video_frame_v2_t frame = program_frame(program);
            NDIlib_send_send_video_async_v2(m_sender, &frame);
            NDIlib_video_frame_v2_t small(
                640, 360, fourcc(NDIlib_FourCC_type_SHQ0_lowest_bandwidth), 30000, 1001);
            small.p_data = preview.data();
            small.data_size_in_bytes = static_cast<int>(preview.size());
            NDIlib_send_send_video_async_v2(m_sender, &small);
            NDIlib_audio_frame_interleaved_32f_t block(
                48000, 2, 480, NDIlib_send_timecode_synthesize, samples.data());
            NDIlib_util_send_send_audio_interleaved_32f(m_sender, &block);
            if (!greeted && NDIlib_send_get_no_connections(m_sender, 0) > 0) {
                greeted = true;
                char status[] = "<vtb_ptz_reply_message Sn=\"0\"/>";
                NDIlib_metadata_frame_t frame_text(0, NDIlib_send_timecode_synthesize, status);
                NDIlib_send_send_metadata(m_sender, &frame_text);
            }
            NDIlib_tally_t tally;
            NDIlib_send_get_tally(m_sender, &tally, 10);  // also paces the loop
            if (tally.on_program) {
                m_program_tally = true;
            }
        }
    }

    NDIlib_send_instance_t m_sender;
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_program_tally{false};
    std::thread m_thread;
};

using NdiMonitor = NdiTest;

TEST_F(NdiMonitor, ShowsWhatTheSourceSendsAndTalksBack)
{
    SenderPtr sender = make_sender("monitor source");
    char product[] = "<ndi_product long_name=\"Vantor Labs Camera\"/>";
    NDIlib_metadata_frame_t product_frame(0, NDIlib_send_timecode_synthesize, product);
    NDIlib_send_add_connection_metadata(sender.get(), &product_frame);
    const NDIlib_source_t failover("backup camera");
    NDIlib_send_set_failover(sender.get(), &failover);

    const std::string picture_file = m_registry_dir / "picture.shq";
    MonitorRun run;
    bool program_tally = false;
    {
        Feeder feeder(sender.get());
        run = run_monitor("--seconds 2 --metadata '<ntk_ptz_inq_command/>' --tally program "
                          "--save-picture '" +
                          picture_file + "' 'monitor source'");
        program_tally = feeder.saw_program_tally();
    }
    const std::string& out = run.output;
    EXPECT_EQ(run.status, 0) << out;
    EXPECT_TRUE(contains(out, "connected to 'monitor source' at 127.0.0.1:")) << out;
    EXPECT_TRUE(contains(out, "failover source: 'backup camera'")) << out;
    EXPECT_TRUE(contains(out, "metadata: <ndi_product long_name=\"Vantor Labs Camera\"/>")) << out;
    EXPECT_TRUE(contains(out, "metadata: <vtb_ptz_reply_message Sn=\"0\"/>")) << out;
    EXPECT_TRUE(contains(out, "video program: 1920x1080 SHQ2 ")) << out;
    EXPECT_TRUE(contains(out, " fps, 20000 bytes/frame, ")) << out;
    EXPECT_TRUE(contains(out, "video preview: 640x360 shq0 ")) << out;
    EXPECT_TRUE(contains(out, "audio: 48000 Hz, 2 channels, ")) << out;
    EXPECT_TRUE(contains(out, "picture saved to " + picture_file)) << out;

    // What the monitor sent reached the sender.
    EXPECT_EQ(next_captured(sender.get()), "<ntk_ptz_inq_command/>");
    EXPECT_TRUE(program_tally);
    const std::string saved = read_text(picture_file);
    const std::vector<std::uint8_t> bytes(saved.begin(), saved.end());
    EXPECT_TRUE(bytes == pattern(20000, 5) || bytes == pattern(3000, 6)) << bytes.size();
}

TEST_F(NdiMonitor, ReceivesOnlyTheChosenStreamByAddress)
{
    SenderPtr sender = make_sender("by address");
    MonitorRun run;
    {
        Feeder feeder(sender.get());
        run = run_monitor("--seconds 2 --streams preview " + address_of(sender.get()));
    }
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "connected to 'by address'")) << run.output;
    EXPECT_TRUE(contains(run.output, "video preview: 640x360 shq0")) << run.output;
    EXPECT_FALSE(contains(run.output, "video program")) << run.output;
}

struct RgbPicture {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    std::vector<std::uint8_t> pixels;  // RGB, row after row
};

bool read_png(const std::string& path, RgbPicture& picture)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture.width = image.width;
    picture.height = image.height;
    picture.pixels.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
}

TEST_F(NdiMonitor, SnapshotDecodesTheNextProgramPictureIntoAPng)
{
    SenderPtr sender = make_sender("snapshot source");
    std::vector<std::uint8_t> encoded;
    std::string error;
    ASSERT_TRUE(encode_speedhq_picture({1920, 1080, false, 0, -1}, encoded, error)) << error;
    const std::string png_file = m_registry_dir / "program.png";
    const std::string garbage_file = m_registry_dir / "garbage.png";
    MonitorRun run;
    MonitorRun garbage;
    {
        const Feeder feeder(sender.get());  // no SpeedHQ in its pictures
        garbage = run_monitor("--seconds 1 --snapshot '" + garbage_file + "' 'snapshot source'");
    }
    {
        const Feeder feeder(sender.get(), encoded);  // its preview pictures are still no SpeedHQ
        run = run_monitor("--seconds 1 --snapshot '" + png_file + "' 'snapshot source'");
    }
    EXPECT_EQ(garbage.status, 3) << garbage.output;
    EXPECT_TRUE(contains(garbage.output, "snapshot not written: ")) << garbage.output;
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "snapshot written to " + png_file + " (1920x1080 SHQ2)"))
        << run.output;

    RgbPicture picture;
    ASSERT_TRUE(read_png(png_file, picture));
    ASSERT_EQ(picture.width, 1920U);
    ASSERT_EQ(picture.height, 1080U);
    // The 75 % colour bars across the top, left to right, as RGB (191 = 75 % of 255).
    struct Bar {
        const char* name;
        int red, green, blue;
    };
    const Bar bars[] = {{"grey", 191, 191, 191}, {"yellow", 191, 191, 0},  {"cyan", 0, 191, 191},
                        {"green", 0, 191, 0},    {"magenta", 191, 0, 191}, {"red", 191, 0, 0},
                        {"blue", 0, 0, 191}};
    const std::size_t bar_width = 1920 / 7;
    for (std::size_t i = 0; i < 7; ++i) {
        const std::size_t x = i * bar_width + bar_width / 2;
        const std::uint8_t* rgb = &picture.pixels[(50 * std::size_t{1920} + x) * 3];
        EXPECT_NEAR(rgb[0], bars[i].red, 8) << bars[i].name;
        EXPECT_NEAR(rgb[1], bars[i].green, 8) << bars[i].name;
        EXPECT_NEAR(rgb[2], bars[i].blue, 8) << bars[i].name;
    }
}

TEST_F(NdiMonitor, HelpBadOptionsAndAnUnknownSource)
{
    const MonitorRun help = run_monitor("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--streams", "--metadata", "--tally", "--save-picture", "--snapshot",
                               "--seconds", "--connect-timeout", "--help", "SOURCE"}) {
        EXPECT_TRUE(contains(help.output, option)) << option;
    }
    const MonitorRun bad = run_monitor("--tally sometimes CAM");
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(contains(bad.output, "--tally takes program, preview, both or off")) << bad.output;
    EXPECT_EQ(run_monitor("").status, 1);

    const MonitorRun nobody = run_monitor("--connect-timeout 1 'nobody here'");
    EXPECT_EQ(nobody.status, 2);
    EXPECT_TRUE(contains(nobody.output, "'nobody here' not reached within 1 s")) << nobody.output;
}

}  // namespace
}  // namespace vantor::test
