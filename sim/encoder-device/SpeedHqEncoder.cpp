#include "SpeedHqEncoder.h"

#include "TestPattern.h"
#include "av_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

bool encode_speedhq_picture(const PictureLayout& layout, std::vector<std::uint8_t>& out,
                            std::string& error)
{
    vantor::av::Encoder encoder;
    if (!vantor::av::open_fixed_quantiser_encoder(
            "speedhq", layout.width, layout.height,
            layout.chroma420 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV422P, kSpeedHqQuantiser,
            AVRational{1, 60}, encoder, error)) {
        return false;
    }
    AVCodecContext* const context = encoder.context.get();
    AVFrame* const frame = encoder.frame.get();
    AVPacket* const packet = encoder.packet.get();

    frame->format = context->pix_fmt;
    frame->width = layout.width;
    frame->height = layout.height;
    int rc = av_frame_get_buffer(frame, 0);
    if (rc < 0) {
        error = "cannot allocate a picture: " + vantor::av::error_text(rc);
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

    rc = avcodec_send_frame(context, frame);
    if (rc >= 0) {
        rc = avcodec_send_frame(context, nullptr);  // flush: one picture in, one packet out
    }
    if (rc >= 0) {
        rc = avcodec_receive_packet(context, packet);
    }
    if (rc < 0) {
        error = "speedhq encoding failed: " + vantor::av::error_text(rc);
        return false;
    }
    out.assign(packet->data, packet->data + packet->size);
    return true;
}
