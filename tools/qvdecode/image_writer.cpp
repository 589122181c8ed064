// PNG and JPEG snapshots through libavcodec's png and mjpeg encoders.
#include "image_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace qvtool {
namespace {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

}  // namespace

bool ParseSnapshotFormat(const std::string& name, SnapshotFormat* format) {
    if (name == "png") *format = SnapshotFormat::kPng;
    else if (name == "jpg" || name == "jpeg") *format = SnapshotFormat::kJpeg;
    else if (name == "bmp") *format = SnapshotFormat::kBmp;
    else return false;
    return true;
}

const char* SnapshotExtension(SnapshotFormat format) {
    switch (format) {
        case SnapshotFormat::kPng: return "png";
        case SnapshotFormat::kJpeg: return "jpg";
        case SnapshotFormat::kBmp: return "bmp";
    }
    return "bmp";
}

std::string WriteEncodedImage(const std::string& path, SnapshotFormat format, const uint8_t* data,
                              int size, int width, int height, int ffmpeg_format) {
    const AVPixelFormat source = static_cast<AVPixelFormat>(ffmpeg_format);
    const int needed = av_image_get_buffer_size(source, width, height, 1);
    if (!data || width <= 0 || height <= 0 || needed <= 0 || size < needed) {
        return "the picture is not complete";
    }
    const bool png = format == SnapshotFormat::kPng;
    // mjpeg takes full-range YUV; png takes RGB.
    const AVPixelFormat target = png ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUVJ420P;
    const AVCodec* codec = avcodec_find_encoder(png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG);
    if (!codec) return std::string("libavcodec has no ") + (png ? "png" : "mjpeg") + " encoder";

    std::unique_ptr<AVCodecContext, CodecContextFree> ctx(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!ctx || !frame || !packet) return "out of memory";
    ctx->width = width;
    ctx->height = height;
    ctx->pix_fmt = target;
    ctx->time_base = AVRational{1, 25};
    if (!png) {
        // A fixed fine quantiser: snapshots are for looking at, not for saving space.
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * 2;
        ctx->color_range = AVCOL_RANGE_JPEG;
    }
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return "the image encoder did not open";

    frame->width = width;
    frame->height = height;
    frame->format = target;
    frame->quality = ctx->global_quality;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return "out of memory";
    // Bilinear, as the library's BMP snapshots are converted, so both show the same pixels.
    std::unique_ptr<SwsContext, SwsFree> scaler(
        sws_getContext(width, height, source, width, height, target, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler) return std::string("cannot convert ") + av_get_pix_fmt_name(source) + " pictures";
    uint8_t* planes[4];
    int strides[4];
    if (av_image_fill_arrays(planes, strides, data, source, width, height, 1) < 0) {
        return "the picture is not complete";
    }
    sws_scale(scaler.get(), planes, strides, 0, height, frame->data, frame->linesize);

    if (avcodec_send_frame(ctx.get(), frame.get()) < 0 || avcodec_send_frame(ctx.get(), nullptr) < 0 ||
        avcodec_receive_packet(ctx.get(), packet.get()) < 0) {
        return "the image encoder failed";
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return std::strerror(errno);
    const bool written = std::fwrite(packet->data, 1, packet->size, file) == static_cast<size_t>(packet->size);
    if (std::fclose(file) != 0 || !written) return "writing failed";
    return "";
}

}  // namespace qvtool
