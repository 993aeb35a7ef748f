// The encoder application's streaming path against the encoder-device simulator and a real NDI
// receiver: the device requests of start and stop per format, pictures that arrive and decode, the
// field parity of 1080i, the device's faults and a stalled encoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NdiTransmitter/NdiTransmitter.h"
#include "speedhq_decode.h"
#include "support/count_of.h"
#include "support/speedhq_sim.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using vantor::test::count_of;
using vantor::test::SpeedHqSimProcess;
using vantor::test::TempBoardRoot;
using vantor::test::wait_until;

// Index of the first occurrence of `sequence` as consecutive entries of `log`, or -1.
long find_sequence(const std::vector<std::string>& log, const std::vector<std::string>& sequence)
{
    for (std::size_t i = 0; i + sequence.size() <= log.size(); ++i) {
        if (std::equal(sequence.begin(), sequence.end(), log.begin() + static_cast<long>(i))) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

class PipelineSim : public ::testing::Test {
protected:
    PipelineSim()
    {
        m_root.make_dir("/dev");
        m_root.make_dir("/etc");
        m_tx.settings_period = std::chrono::milliseconds(20);
    }
    ~PipelineSim() override
    {
        if (m_tx.encodeRunning.load()) {
            m_tx.stop_encode();
        }
        if (m_receiver != nullptr) {
            NDIlib_recv_destroy(m_receiver);
        }
        if (m_tx.ndi_tx_inst != nullptr) {
            // The runtime may use the last pictures' bytes until the sender is gone.
            NDIlib_send_destroy(m_tx.ndi_tx_inst);
            m_tx.ndi_tx_inst = nullptr;
        }
        if (m_ndi) {
            NDIlib_destroy();
        }
    }

    void start_sim(const std::vector<std::string>& options = {})
    {
        m_sim = std::make_unique<SpeedHqSimProcess>(VANTOR_BIN_DIR, m_root / "/dev/vantor-speedhq",
                                                    options);
        ASSERT_TRUE(m_sim->ready());
        m_tx.map_NdiTransmitter_mem(0);
        ASSERT_TRUE(m_tx.m_vantorspeedhqDevice.is_open());
    }

    // The main sender, as the program creates it, and a receiver of both of its video streams.
    void create_sender_and_receiver()
    {
        m_ndi = NDIlib_initialize();
        ASSERT_TRUE(m_ndi);
        NDIlib_send_create_t create("pipeline sim test");
        m_tx.ndi_tx_inst = NDIlib_send_create_v2(&create);
        ASSERT_NE(m_tx.ndi_tx_inst, nullptr);
        const NDIlib_source_t* source = NDIlib_send_get_source_name(m_tx.ndi_tx_inst);
        ASSERT_NE(source, nullptr);
        NDIlib_recv_create_v3_t receive(NDIlib_source_t(nullptr, source->p_url_address),
                                        NDIlib_recv_bandwidth_all_video);
        m_receiver = NDIlib_recv_create_v3(&receive);
        ASSERT_NE(m_receiver, nullptr);
    }

    struct Received {
        NDIlib_video_frame_v2_t info;
        std::vector<std::uint8_t> bytes;
    };

    // Receives video until `done` says enough (or the deadline passes).
    std::vector<Received> receive(const std::function<bool(const std::vector<Received>&)>& done)
    {
        std::vector<Received> received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done(received) && std::chrono::steady_clock::now() < deadline) {
            NDIlib_video_frame_v2_t video;
            if (NDIlib_recv_capture_v2(m_receiver, &video, nullptr, nullptr, 100) ==
                NDIlib_frame_type_video) {
                Received frame{video, {}};
                frame.info.p_data = nullptr;
                if (video.p_data != nullptr && video.data_size_in_bytes > 0) {
                    frame.bytes.assign(video.p_data, video.p_data + video.data_size_in_bytes);
                }
                received.push_back(std::move(frame));
                NDIlib_recv_free_video_v2(m_receiver, &video);
            }
        }
        return received;
    }

    static int count_program(const std::vector<Received>& received)
    {
        int count = 0;
        for (const Received& frame : received) {
            count += frame.info.xres != 640 ? 1 : 0;
        }
        return count;
    }

    TempBoardRoot m_root;
    std::unique_ptr<SpeedHqSimProcess> m_sim;
    bool m_ndi = false;
    NDIlib_recv_instance_t m_receiver = nullptr;
    NdiTransmitter m_tx;
};

TEST_F(PipelineSim, StartAndStopRequestSequencesPerFormat)
{
    struct Case {
        int format;
        std::string mode;
        std::string video_2k_4k;
        int xres, yres, rate_n, rate_d;
    };
    const Case cases[] = {{52, "11=0", "7=1", 3840, 2160, 30000, 1001},
                          {19, "11=3", "7=0", 1920, 540, 30000, 1200},
                          {7, "11=1", "7=0", 1280, 720, 60000, 1001}};
    start_sim();
    vantor::test::write_text(m_root / "/etc/vantor-VOutput-Interface", "Default\nLowLatency");
    for (const Case& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        m_sim->command("clear-requests");
        m_tx.start_encode(c.format, 0);
        // The frame thread starts the encoder once the threads run.
        std::vector<std::string> start;
        ASSERT_TRUE(wait_until([&] {
            start = m_sim->requests();
            return start.size() > 10 &&
                   std::find(start.begin() + 10, start.end(), "0") != start.end();
        }));
        EXPECT_EQ(std::vector<std::string>(start.begin(), start.begin() + 10),
                  (std::vector<std::string>{"12=0", "4=0", "1", "8=0", c.mode, c.video_2k_4k, "1",
                                            "0", "1", "3=0"}));
        EXPECT_EQ(m_tx.prog_info_frame.xres, c.xres);
        EXPECT_EQ(m_tx.prog_info_frame.yres, c.yres);
        EXPECT_EQ(m_tx.prog_info_frame.frame_rate_N, c.rate_n);
        EXPECT_EQ(m_tx.prog_info_frame.frame_rate_D, c.rate_d);
        EXPECT_EQ(m_tx.prog_info_frame.FourCC, NDIlib_FourCC_type_SHQ2_highest_bandwidth);
        EXPECT_EQ(m_tx.prev_info_frame.xres, 640);
        EXPECT_EQ(m_tx.prev_info_frame.FourCC, NDIlib_FourCC_type_SHQ0_lowest_bandwidth);
        EXPECT_EQ(m_tx.interlaced_field, c.format == 19);
        EXPECT_EQ(m_tx.skip_prev_frame_en, c.format != 52);

        m_sim->command("clear-requests");
        m_tx.stop_encode();
        const std::vector<std::string> stop = m_sim->requests();
        ASSERT_FALSE(stop.empty());
        EXPECT_EQ(stop.back(), "1") << "the encoder is stopped last";
        m_sim->command("clear-requests");
        EXPECT_EQ(m_sim->requests(), std::vector<std::string>{}) << "nothing runs after the stop";
    }
}

TEST_F(PipelineSim, ReceivedPicturesDecodeAtTheirSize)
{
    start_sim({"--rate", "0"});
    create_sender_and_receiver();
    m_tx.start_encode(52, 0);
    bool preview_seen = false;
    const std::vector<Received> received = receive([&](const std::vector<Received>& frames) {
        preview_seen = preview_seen || (!frames.empty() && frames.back().info.xres == 640);
        return preview_seen && count_program(frames) >= 1;
    });
    m_tx.stop_encode();
    ASSERT_TRUE(preview_seen);
    ASSERT_GE(count_program(received), 1);
    for (const Received& frame : received) {
        const bool preview = frame.info.xres == 640;
        SCOPED_TRACE(preview ? "preview" : "program");
        EXPECT_EQ(frame.info.yres, preview ? 360 : 2160);
        EXPECT_EQ(frame.info.FourCC, preview ? NDIlib_FourCC_type_SHQ0_lowest_bandwidth
                                             : NDIlib_FourCC_type_SHQ2_highest_bandwidth);
        EXPECT_EQ(frame.info.frame_rate_N, 30000);
        EXPECT_EQ(frame.info.frame_rate_D, 1001);
        EXPECT_EQ(frame.info.frame_format_type, NDIlib_frame_format_type_progressive);
        EXPECT_NEAR(frame.info.picture_aspect_ratio, 16.0F / 9.0F, 1e-6);
        DecodedPicture decoded;
        std::string error;
        ASSERT_TRUE(
            decode_speedhq(frame.bytes, frame.info.xres, frame.info.yres, preview, decoded, error))
            << error;
        EXPECT_EQ(decoded.width, frame.info.xres);
        EXPECT_EQ(decoded.height, frame.info.yres);
        EXPECT_EQ(decoded.chroma420, preview);
    }
}

TEST_F(PipelineSim, InterlacedFieldsCarryTheirParity)
{
    start_sim({"--rate", "0"});
    create_sender_and_receiver();
    m_tx.encoder_pix_format_420 = 1;
    m_tx.start_encode(20, 0);
    const std::vector<Received> received = receive([&](const std::vector<Received>& frames) {
        int field0 = 0;
        int field1 = 0;
        for (const Received& frame : frames) {
            field0 += frame.info.frame_format_type == NDIlib_frame_format_type_field_0 ? 1 : 0;
            field1 += frame.info.frame_format_type == NDIlib_frame_format_type_field_1 ? 1 : 0;
        }
        return field0 >= 2 && field1 >= 2;
    });
    m_tx.stop_encode();
    int fields = 0;
    for (const Received& frame : received) {
        if (frame.info.xres == 640) {
            continue;
        }
        ++fields;
        ASSERT_NE(frame.info.frame_format_type, NDIlib_frame_format_type_progressive);
        const bool field1 = frame.info.frame_format_type == NDIlib_frame_format_type_field_1;
        DecodedPicture decoded;
        std::string error;
        ASSERT_TRUE(decode_speedhq(frame.bytes, 1920, 540, true, decoded, error)) << error;
        EXPECT_EQ(frame.info.FourCC, NDIlib_FourCC_type_SHQ0_highest_bandwidth);
        // The simulator marks each field at the left (field 0) or the right (field 1).
        const int scale = 540 / 60;
        const int y = 540 * 3 / 4 + 4 * scale;
        const int left = 1920 / 16 + 2 * scale;
        const int right = 1920 - 1920 / 16 - 2 * scale;
        EXPECT_GT(decoded.luma(field1 ? right : left, y), 200);
        EXPECT_LT(decoded.luma(field1 ? left : right, y), 40);
    }
    EXPECT_GE(fields, 4);
}

TEST_F(PipelineSim, DeviceFaultsAreReportedAndAnIndexAboveFiveRestarts)
{
    start_sim({"--rate", "200"});
    m_tx.settings_period = std::chrono::seconds(1);
    CaptureStdout();
    m_tx.start_encode(7, 0);
    ASSERT_TRUE(wait_until([&] { return m_tx.FrameSentCount.load() > 0; }));
    // One fault at a time, each followed by a few frames so that the frame thread meets it.
    for (const char* fault : {"index 0", "index -1", "index 6", "repeat"}) {
        SCOPED_TRACE(fault);
        EXPECT_EQ(m_sim->command(fault).rfind("ok", 0), 0U);
        const int counted = m_tx.FrameSentCount.load();
        ASSERT_TRUE(wait_until([&] { return m_tx.FrameSentCount.load() > counted + 3; }));
    }
    m_tx.stop_encode();
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Buffer 0 \n!!!!!!!!!!!!!!!!!!!!!!!!!!!!NOVALID FRAME\n"),
              std::string::npos);
    EXPECT_NE(out.find("Buffer -1 \n!!!!!!!!!!!!!!!!!!!!!!!!!!!!NOVALID FRAME\n"),
              std::string::npos);
    EXPECT_NE(out.find("Buffer 6 \n!!!!!!!!!!!!!!!!!!!!!!!!!!!!NOVALID FRAME\n"),
              std::string::npos);
    EXPECT_EQ(count_of(out, "NOVALID FRAME\n"), 3U);
    EXPECT_EQ(count_of(out, "SAME FRAME\n"), 1U);
    // The frame thread's requests alone (the settings thread's 13, 14, 5 and 6 interleave):
    // index 6 is followed by a stop and a start of the encoder, then the next wait.
    std::vector<std::string> frame_requests;
    for (const std::string& request : m_sim->requests()) {
        const std::string code = request.substr(0, request.find('='));
        if (code != "13" && code != "14" && code != "5" && code != "6") {
            frame_requests.push_back(request);
        }
    }
    EXPECT_GE(find_sequence(frame_requests, {"read:6", "1", "0", "10=1"}), 0);
}

TEST_F(PipelineSim, AStalledEncoderIsDetectedAndStopsInOrder)
{
    start_sim({"--wait-timeout", "100"});
    m_tx.settings_period = std::chrono::milliseconds(50);
    m_tx.start_encode(7, 0);
    // Once frames come (about 60 a second; the simulator first encodes its pictures), checks
    // every 50 ms never see 31 in a row without one.
    ASSERT_TRUE(wait_until([&] { return m_tx.FrameSentCount.load() > 0; }));
    const size_t checks = count_of(m_sim->requests(), "13=0");
    ASSERT_TRUE(wait_until([&] { return count_of(m_sim->requests(), "13=0") >= checks + 40; }));
    EXPECT_FALSE(m_tx.DeTectStuck.load());
    m_sim->command("stall");
    EXPECT_TRUE(wait_until([&] { return m_tx.DeTectStuck.load(); }));
    CaptureStdout();
    m_tx.stop_encode();
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("STOP send_audio_frame_thread\n"), std::string::npos);
    EXPECT_FALSE(m_tx.encodeRunning.load());
}

}  // namespace
