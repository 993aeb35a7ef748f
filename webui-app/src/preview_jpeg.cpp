#include "preview_jpeg.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "av_handles.h"
#include "speedhq_decode.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace {

// JPEG quality through the encoder's fixed quantiser: 5 keeps a 640x360 picture near 40 KB.
constexpr int kJpegQuantiser = 5;

// Browsers show a JPEG as full range (JFIF): the decoder's video-range levels are stretched, luma
// 16..235 and chroma 16..240 to 0..255, through one table per plane kind.
struct RangeTables {
    std::array<std::uint8_t, 256> luma{};
    std::array<std::uint8_t, 256> chroma{};
    RangeTables()
    {
        for (int v = 0; v < 256; ++v) {
            luma[static_cast<std::size_t>(v)] = clamp_level(((v - 16) * 255 + 109) / 219);
            chroma[static_cast<std::size_t>(v)] = clamp_level(128 + ((v - 128) * 255 + 112) / 224);
        }
    }
    static std::uint8_t clamp_level(int v)
    {
        return static_cast<std::uint8_t>(std::min(255, std::max(0, v)));
    }
};

void to_full_range(DecodedPicture& picture)
{
    static const RangeTables tables;
    for (int i = 0; i < 3; ++i) {
        const auto& table = i == 0 ? tables.luma : tables.chroma;
        for (std::uint8_t& level : picture.planes[i]) {
            level = table[level];
        }
    }
}

}  // namespace

bool speedhq_to_jpeg(const std::vector<std::uint8_t>& speedhq, int width, int height,
                     bool chroma420, std::string& jpeg, std::string& error)
{
    DecodedPicture picture;
    if (!decode_speedhq(speedhq, width, height, chroma420, picture, error)) {
        return false;
    }
    to_full_range(picture);
    vantor::av::Encoder encoder;
    if (!vantor::av::open_fixed_quantiser_encoder(
            "mjpeg", picture.width, picture.height,
            picture.chroma420 ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUVJ422P, kJpegQuantiser,
            AVRational{1, 25}, encoder, error)) {
        return false;
    }
    AVCodecContext* const context = encoder.context.get();
    AVFrame* const frame = encoder.frame.get();
    AVPacket* const packet = encoder.packet.get();
    frame->width = picture.width;
    frame->height = picture.height;
    frame->format = context->pix_fmt;
    frame->quality = context->global_quality;
    for (int i = 0; i < 3; ++i) {
        frame->data[i] = picture.planes[i].data();
        frame->linesize[i] = picture.strides[i];
    }
    int rc = avcodec_send_frame(context, frame);
    if (rc >= 0) {
        rc = avcodec_receive_packet(context, packet);
    }
    // The frame points into `picture`; it must not free those planes.
    for (auto& plane : frame->data) {
        plane = nullptr;
    }
    if (rc < 0) {
        error = "the JPEG encoder refused the picture";
        return false;
    }
    jpeg.assign(reinterpret_cast<const char*>(packet->data),
                static_cast<std::size_t>(packet->size));
    return true;
}
