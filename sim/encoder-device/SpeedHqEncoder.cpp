#include "SpeedHqEncoder.h"

#include "TestPattern.h"
#include "av_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

namespace {

std::string av_error_text(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

}  // namespace

bool encode_speedhq_picture(const PictureLayout& layout, std::vector<std::uint8_t>& out,
                            std::string& error)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("speedhq");
    if (codec == nullptr) {
        error = "libavcodec has no speedhq encoder";
        return false;
    }
    vantor::av::ContextPtr context(avcodec_alloc_context3(codec));
    vantor::av::FramePtr frame(av_frame_alloc());
    vantor::av::PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        error = "out of memory";
        return false;
    }
    context->width = layout.width;
    context->height = layout.height;
    context->pix_fmt = layout.chroma420 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV422P;
    context->time_base = AVRational{1, 60};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * kSpeedHqQuantiser;
    int rc = avcodec_open2(context.get(), codec, nullptr);
    if (rc < 0) {
        error = "cannot open the speedhq encoder: " + av_error_text(rc);
        return false;
    }

    frame->format = context->pix_fmt;
    frame->width = layout.width;
    frame->height = layout.height;
    rc = av_frame_get_buffer(frame.get(), 0);
    if (rc < 0) {
        error = "cannot allocate a picture: " + av_error_text(rc);
        return false;
    }
    PlanarPicture picture;
    for (int i = 0; i < 3; ++i) {
        picture.plane[i] = frame->data[i];
        picture.stride[i] = frame->linesize[i];
    }
    picture.width = layout.width;
    picture.height = layout.height;
    picture.chroma_shift_y = layout.chroma420 ? 1 : 0;
    draw_test_pattern(picture, layout.counter, layout.field);
    frame->pts = layout.counter;
    frame->quality = context->global_quality;

    rc = avcodec_send_frame(context.get(), frame.get());
    if (rc >= 0) {
        rc = avcodec_send_frame(context.get(), nullptr);  // flush: one picture in, one packet out
    }
    if (rc >= 0) {
        rc = avcodec_receive_packet(context.get(), packet.get());
    }
    if (rc < 0) {
        error = "speedhq encoding failed: " + av_error_text(rc);
        return false;
    }
    out.assign(packet->data, packet->data + packet->size);
    return true;
}
