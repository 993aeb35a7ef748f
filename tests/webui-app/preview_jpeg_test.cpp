#include "preview_jpeg.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "SpeedHqEncoder.h"
#include "av_handles.h"
#include "preview_feed.h"
#include "speedhq_decode.h"
#include "support/wait_until.h"

namespace {

// Decodes `jpeg` with libavcodec's JPEG decoder into `frame`.
bool decode_jpeg(const std::string& jpeg, AVFrame* frame)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    vantor::av::ContextPtr context(avcodec_alloc_context3(codec));
    vantor::av::PacketPtr packet(av_packet_alloc());
    if (avcodec_open2(context.get(), codec, nullptr) < 0 ||
        av_new_packet(packet.get(), static_cast<int>(jpeg.size())) < 0) {
        return false;
    }
    std::copy(jpeg.begin(), jpeg.end(), packet->data);
    return avcodec_send_packet(context.get(), packet.get()) >= 0 &&
           avcodec_receive_frame(context.get(), frame) >= 0;
}

// A preview picture from the encoder device's encoder becomes a JPEG of the same size and chroma
// layout whose picture is the SpeedHQ picture's, its video-range luma (16..235) stretched to the
// full range browsers show (mean difference within JPEG's loss).
TEST(WebUiPreview, SpeedHqPictureBecomesJpegOfTheSamePicture)
{
    struct Case {
        bool chroma420;
        AVPixelFormat jpeg_format;
    };
    for (const Case& c : {Case{true, AV_PIX_FMT_YUVJ420P}, Case{false, AV_PIX_FMT_YUVJ422P}}) {
        SCOPED_TRACE(c.chroma420 ? "4:2:0" : "4:2:2");
        PictureLayout layout;
        layout.width = 640;
        layout.height = 360;
        layout.chroma420 = c.chroma420;
        layout.counter = 7;
        std::vector<std::uint8_t> speedhq;
        std::string error;
        ASSERT_TRUE(encode_speedhq_picture(layout, speedhq, error)) << error;
        DecodedPicture reference;
        ASSERT_TRUE(decode_speedhq(speedhq, 640, 360, c.chroma420, reference, error)) << error;

        std::string jpeg;
        ASSERT_TRUE(speedhq_to_jpeg(speedhq, 640, 360, c.chroma420, jpeg, error)) << error;
        vantor::av::FramePtr frame(av_frame_alloc());
        ASSERT_TRUE(decode_jpeg(jpeg, frame.get()));
        EXPECT_EQ(frame->width, 640);
        EXPECT_EQ(frame->height, 360);
        EXPECT_EQ(frame->format, c.jpeg_format);
        long difference = 0;
        for (int y = 0; y < 360; ++y) {
            for (int x = 0; x < 640; ++x) {
                const double full = (reference.luma(x, y) - 16) * 255.0 / 219.0;
                const int expected = static_cast<int>(std::lround(std::clamp(full, 0.0, 255.0)));
                difference += std::abs(frame->data[0][y * frame->linesize[0] + x] - expected);
            }
        }
        EXPECT_LE(difference / (640L * 360L), 2);
    }
}

TEST(WebUiPreview, DamagedPictureIsRefusedWithAMessage)
{
    const std::vector<std::uint8_t> damaged(64, 0xFF);
    std::string jpeg;
    std::string error;
    EXPECT_FALSE(speedhq_to_jpeg(damaged, 640, 360, true, jpeg, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(jpeg.empty());
}

// A sender like the camera's preview stream: the feed's receiver connects on the first request,
// the page gets that sender's picture, and the receiver goes once nobody asks any more.
TEST(WebUiPreview, FeedReceivesOnlyWhileAPageAsks)
{
    PictureLayout layout;
    layout.width = 640;
    layout.height = 360;
    std::vector<std::uint8_t> speedhq;
    std::string error;
    ASSERT_TRUE(encode_speedhq_picture(layout, speedhq, error)) << error;
    const std::string name = "webui-preview-test-" + std::to_string(::getpid());
    const NDIlib_send_create_t settings(name.c_str(), nullptr, false, false);
    NDIlib_send_instance_t sender = NDIlib_send_create(&settings);
    ASSERT_NE(sender, nullptr);
    std::atomic<bool> sending{true};
    std::thread feeder([&] {
        while (sending) {
            NDIlib_video_frame_v2_t frame(
                640, 360,
                static_cast<NDIlib_FourCC_video_type_e>(NDIlib_FourCC_type_SHQ0_lowest_bandwidth),
                30000, 1001);
            frame.p_data = speedhq.data();
            frame.data_size_in_bytes = static_cast<int>(speedhq.size());
            NDIlib_send_send_video_v2(sender, &frame);
            (void)NDIlib_send_get_no_connections(sender, 30);  // paces the loop
        }
    });
    {
        PreviewFeed feed(name);
        feed.start();
        std::string jpeg;
        long age_ms = -1;
        EXPECT_TRUE(feed.newest_jpeg(jpeg, age_ms, std::chrono::seconds(10)));
        vantor::av::FramePtr frame(av_frame_alloc());
        ASSERT_TRUE(decode_jpeg(jpeg, frame.get()));
        EXPECT_EQ(frame->width, 640);
        EXPECT_GE(age_ms, 0);
        EXPECT_LT(age_ms, 1000);
        EXPECT_EQ(NDIlib_send_get_no_connections(sender, 0), 1);
        EXPECT_TRUE(
            vantor::test::wait_until([&] { return NDIlib_send_get_no_connections(sender, 0) == 0; },
                                     PreviewFeed::kIdleAfter + std::chrono::seconds(3)));
    }
    sending = false;
    feeder.join();
    NDIlib_send_destroy(sender);
}

}  // namespace
