#pragma once

// Owners of libavcodec's codec contexts, frames and packets: each is freed when its owner goes;
// and the opening of an encoder at a fixed quantiser, as the pictures of the board are made.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

namespace vantor::av {

struct ContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

using ContextPtr = std::unique_ptr<AVCodecContext, ContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// libavcodec's text for the error `code`.
inline std::string error_text(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

// An open encoder with a frame and a packet to feed it and take its output.
struct Encoder {
    ContextPtr context;
    FramePtr frame;
    PacketPtr packet;
};

// Opens libavcodec's encoder `name` for `width` x `height` pictures in `format` at the fixed
// quantiser `quantiser`; false with `error` set when there is no such encoder or it refuses.
inline bool open_fixed_quantiser_encoder(const char* name, int width, int height,
                                         AVPixelFormat format, int quantiser, AVRational time_base,
                                         Encoder& encoder, std::string& error)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr) {
        error = std::string("libavcodec has no ") + name + " encoder";
        return false;
    }
    encoder.context.reset(avcodec_alloc_context3(codec));
    encoder.frame.reset(av_frame_alloc());
    encoder.packet.reset(av_packet_alloc());
    if (!encoder.context || !encoder.frame || !encoder.packet) {
        error = "out of memory";
        return false;
    }
    AVCodecContext& context = *encoder.context;
    context.width = width;
    context.height = height;
    context.pix_fmt = format;
    context.time_base = time_base;
    context.flags |= AV_CODEC_FLAG_QSCALE;
    context.global_quality = FF_QP2LAMBDA * quantiser;
    const int rc = avcodec_open2(&context, codec, nullptr);
    if (rc < 0) {
        error = std::string("cannot open the ") + name + " encoder: " + error_text(rc);
        return false;
    }
    return true;
}

}  // namespace vantor::av
