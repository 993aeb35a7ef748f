#include "speedhq_decode.h"

#include <cstddef>

#include "av_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

bool decode_speedhq(const std::vector<std::uint8_t>& bytes, int width, int height, bool chroma420,
                    DecodedPicture& picture, std::string& error)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_SPEEDHQ);
    if (codec == nullptr) {
        error = "no speedhq decoder";
        return false;
    }
    vantor::av::ContextPtr context(avcodec_alloc_context3(codec));
    vantor::av::FramePtr frame(av_frame_alloc());
    vantor::av::PacketPtr packet(av_packet_alloc());
    context->width = width;
    context->height = height;
    // SpeedHQ pictures carry no size or chroma layout: the container's FourCC tells the decoder.
    context->codec_tag = chroma420 ? MKTAG('S', 'H', 'Q', '0') : MKTAG('S', 'H', 'Q', '2');
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        error = "cannot open the decoder";
        return false;
    }
    if (av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) {
        error = "out of memory";
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), packet->data);
    int rc = avcodec_send_packet(context.get(), packet.get());
    if (rc >= 0) {
        rc = avcodec_receive_frame(context.get(), frame.get());
    }
    if (rc < 0) {
        error = "the decoder refused the picture";
        return false;
    }
    if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUV422P) {
        error = std::string("unexpected pixel format ") +
                av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
        return false;
    }
    picture.width = frame->width;
    picture.height = frame->height;
    picture.chroma420 = frame->format == AV_PIX_FMT_YUV420P;
    for (int i = 0; i < 3; ++i) {
        const int rows = i == 0 || !picture.chroma420 ? frame->height : (frame->height + 1) / 2;
        picture.strides[i] = frame->linesize[i];
        picture.planes[i].assign(frame->data[i],
                                 frame->data[i] +
                                     static_cast<std::ptrdiff_t>(rows) * frame->linesize[i]);
    }
    return true;
}
