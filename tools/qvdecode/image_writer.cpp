// PNG and JPEG snapshots through libavcodec's png and mjpeg encoders.
#include "image_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "QVDecoder.h"

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

using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

int SwsMatrix(int colour) {
    switch (colour & ~QV_COLOUR_FULL_RANGE) {
        case QV_COLOUR_BT709: return SWS_CS_ITU709;
        case QV_COLOUR_BT2020: return SWS_CS_BT2020;
        case QV_COLOUR_SMPTE240M: return SWS_CS_SMPTE240M;
        case QV_COLOUR_FCC: return SWS_CS_FCC;
        default: return SWS_CS_ITU601;
    }
}

// A scaler of one size. The full-range yuvj* formats go in as their plain twins with the
// range set, which is all libswscale does with them (it would print "deprecated pixel
// format used" for each snapshot otherwise).
SwsContext* NewScaler(int width, int height, AVPixelFormat source, AVPixelFormat target) {
    auto plain = [](AVPixelFormat f, int* full) {
        *full = 1;
        switch (f) {
            case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
            case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
            case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
            case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
            case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
            default: *full = 0; return f;
        }
    };
    int src_full = 0, dst_full = 0;
    const AVPixelFormat src = plain(source, &src_full), dst = plain(target, &dst_full);
    SwsContext* scaler = sws_alloc_context();
    if (!scaler) return nullptr;
    if (av_opt_set_int(scaler, "srcw", width, 0) < 0 || av_opt_set_int(scaler, "srch", height, 0) < 0 ||
        av_opt_set_int(scaler, "src_format", src, 0) < 0 || av_opt_set_int(scaler, "dstw", width, 0) < 0 ||
        av_opt_set_int(scaler, "dsth", height, 0) < 0 || av_opt_set_int(scaler, "dst_format", dst, 0) < 0 ||
        av_opt_set_int(scaler, "sws_flags", SWS_BILINEAR, 0) < 0 ||
        av_opt_set_int(scaler, "src_range", src_full, 0) < 0 || av_opt_set_int(scaler, "dst_range", dst_full, 0) < 0 ||
        sws_init_context(scaler, nullptr, nullptr) < 0) {
        sws_freeContext(scaler);
        return nullptr;
    }
    return scaler;
}

// Converts planes into a frame of the same size. A YUV source is read with its own matrix
// and range; RGB comes out full range, as image files hold it.
bool Convert(const uint8_t* const planes[4], const int strides[4], AVPixelFormat source, AVFrame* target,
             int colour) {
    std::unique_ptr<SwsContext, SwsFree> scaler(
        NewScaler(target->width, target->height, source, static_cast<AVPixelFormat>(target->format)));
    if (!scaler) return false;
    const AVPixFmtDescriptor* from = av_pix_fmt_desc_get(source);
    const AVPixFmtDescriptor* to = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(target->format));
    if (colour > 0 && from && to && !(from->flags & AV_PIX_FMT_FLAG_RGB) && (to->flags & AV_PIX_FMT_FLAG_RGB)) {
        int* inverse = nullptr;
        int* table = nullptr;
        int source_range = 0, target_range = 0, brightness = 0, contrast = 0, saturation = 0;
        sws_getColorspaceDetails(scaler.get(), &inverse, &source_range, &table, &target_range, &brightness, &contrast,
                                 &saturation);
        sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(SwsMatrix(colour)),
                                 (colour & QV_COLOUR_FULL_RANGE) ? 1 : source_range, table, target_range, brightness,
                                 contrast, saturation);
    }
    sws_scale(scaler.get(), planes, strides, 0, target->height, target->data, target->linesize);
    return true;
}

FramePtr NewFrame(int width, int height, AVPixelFormat format) {
    FramePtr frame(av_frame_alloc());
    if (!frame) return frame;
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0) frame.reset();
    return frame;
}

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

void TurnPacked(const uint8_t* data, int stride, int bytes, int rotation, int* width, int* height, uint8_t* out) {
    const int w = *width, h = *height;
    const bool sideways = rotation == 90 || rotation == 270;
    const int out_w = sideways ? h : w, out_h = sideways ? w : h;
    for (int y = 0; y < out_h; ++y) {
        for (int x = 0; x < out_w; ++x) {
            // The source pixel that lands at (x, y) after the clockwise turn.
            int sx = x, sy = y;
            if (rotation == 90) {
                sx = y;
                sy = h - 1 - x;
            } else if (rotation == 180) {
                sx = w - 1 - x;
                sy = h - 1 - y;
            } else if (rotation == 270) {
                sx = w - 1 - y;
                sy = x;
            }
            std::memcpy(out + (static_cast<size_t>(y) * out_w + x) * bytes,
                        data + static_cast<size_t>(sy) * stride + static_cast<size_t>(sx) * bytes, bytes);
        }
    }
    *width = out_w;
    *height = out_h;
}

std::string WriteEncodedImage(const std::string& path, SnapshotFormat format, const uint8_t* data,
                              int size, int width, int height, int ffmpeg_format, int colour, int rotation) {
    const AVPixelFormat source = static_cast<AVPixelFormat>(ffmpeg_format);
    const int needed = av_image_get_buffer_size(source, width, height, 1);
    if (!data || width <= 0 || height <= 0 || needed <= 0 || size < needed) {
        return "the picture is not complete";
    }
    if (rotation != 90 && rotation != 180 && rotation != 270) rotation = 0;
    uint8_t* planes[4];
    int strides[4];
    if (av_image_fill_arrays(planes, strides, data, source, width, height, 1) < 0) {
        return "the picture is not complete";
    }
    const std::string refused = std::string("cannot convert ") + av_get_pix_fmt_name(source) + " pictures";
    if (format == SnapshotFormat::kBmp) {
        // BGR24 turned upright, its rows handed over bottom first, as BMP files hold them.
        FramePtr bgr = NewFrame(width, height, AV_PIX_FMT_BGR24);
        if (!bgr) return "out of memory";
        if (!Convert(planes, strides, source, bgr.get(), colour)) return refused;
        std::vector<uint8_t> turned(static_cast<size_t>(width) * height * 3);
        int w = width, h = height;
        TurnPacked(bgr->data[0], bgr->linesize[0], 3, rotation, &w, &h, turned.data());
        std::vector<uint8_t> rows(turned.size());
        for (int y = 0; y < h; ++y) {
            std::memcpy(rows.data() + static_cast<size_t>(h - 1 - y) * w * 3,
                        turned.data() + static_cast<size_t>(y) * w * 3, static_cast<size_t>(w) * 3);
        }
        return WriteBmpFile(path.c_str(), rows.data(), w, h) == 0 ? "" : "writing failed";
    }
    const bool png = format == SnapshotFormat::kPng;
    // mjpeg takes full-range YUV; png takes RGB.
    const AVPixelFormat target = png ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUVJ420P;
    const AVCodec* codec = avcodec_find_encoder(png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG);
    if (!codec) return std::string("libavcodec has no ") + (png ? "png" : "mjpeg") + " encoder";

    // The picture goes to RGB with its own matrix first, then turns upright.
    FramePtr rgb = NewFrame(width, height, AV_PIX_FMT_RGB24);
    if (!rgb) return "out of memory";
    if (!Convert(planes, strides, source, rgb.get(), colour)) return refused;
    if (rotation != 0) {
        int w = width, h = height;
        std::vector<uint8_t> turned(static_cast<size_t>(width) * height * 3);
        TurnPacked(rgb->data[0], rgb->linesize[0], 3, rotation, &w, &h, turned.data());
        rgb = NewFrame(w, h, AV_PIX_FMT_RGB24);
        if (!rgb) return "out of memory";
        for (int y = 0; y < h; ++y) {
            std::memcpy(rgb->data[0] + static_cast<size_t>(y) * rgb->linesize[0],
                        turned.data() + static_cast<size_t>(y) * w * 3, static_cast<size_t>(w) * 3);
        }
        width = w;
        height = h;
    }

    std::unique_ptr<AVCodecContext, CodecContextFree> ctx(avcodec_alloc_context3(codec));
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!ctx || !packet) return "out of memory";
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

    // JPEG takes the RGB as the full-range BT.601 YUV every viewer reads it as. Bilinear, as
    // the library's BMP snapshots are converted, so both show the same pixels.
    FramePtr frame = png ? nullptr : NewFrame(width, height, target);
    if (!png && !frame) return "out of memory";
    if (png) {
        frame = std::move(rgb);
    } else if (!Convert(rgb->data, rgb->linesize, AV_PIX_FMT_RGB24, frame.get(), 0)) {
        return refused;
    }
    frame->quality = ctx->global_quality;

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
