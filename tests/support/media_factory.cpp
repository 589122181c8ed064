#include "media_factory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace qvtest {
namespace {

struct CodecCtxFree { void operator()(AVCodecContext* c) const { avcodec_free_context(&c); } };
struct FrameFree { void operator()(AVFrame* f) const { av_frame_free(&f); } };
struct PacketFree { void operator()(AVPacket* p) const { av_packet_free(&p); } };
using CodecCtx = std::unique_ptr<AVCodecContext, CodecCtxFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

void Collect(AVCodecContext* ctx, AVPacket* pkt, EncodedVideo& out) {
    while (avcodec_receive_packet(ctx, pkt) == 0) {
        EncodedPacket p;
        p.data.assign(pkt->data, pkt->data + pkt->size);
        p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        p.pts = pkt->pts;
        p.dts = pkt->dts;
        out.packets.push_back(std::move(p));
        av_packet_unref(pkt);
    }
}

Picture ToPicture(const AVFrame* f) {
    Picture p;
    p.width = f->width;
    p.height = f->height;
    p.format = f->format;
    p.key = f->key_frame != 0;
    p.colorspace = f->colorspace;
    p.color_range = f->color_range;
    const int size =
        av_image_get_buffer_size(static_cast<AVPixelFormat>(f->format), f->width, f->height, 1);
    p.bytes.resize(size);
    av_image_copy_to_buffer(p.bytes.data(), size, f->data, f->linesize,
                            static_cast<AVPixelFormat>(f->format), f->width, f->height, 1);
    return p;
}

// libaom leaves the extradata empty even with a global header, yet Matroska wants the
// sequence header there: taken from the first packet as FFmpeg's command line does.
std::vector<uint8_t> ExtractExtradata(const AVCodecContext* ctx, const EncodedPacket& first) {
    std::vector<uint8_t> extradata;
    AVBSFContext* bsf = nullptr;
    if (av_bsf_alloc(av_bsf_get_by_name("extract_extradata"), &bsf) < 0) return extradata;
    PacketPtr pkt(av_packet_alloc());
    if (avcodec_parameters_from_context(bsf->par_in, ctx) >= 0 && av_bsf_init(bsf) >= 0 &&
        av_new_packet(pkt.get(), static_cast<int>(first.data.size())) >= 0) {
        std::memcpy(pkt->data, first.data.data(), first.data.size());
        if (av_bsf_send_packet(bsf, pkt.get()) >= 0 && av_bsf_receive_packet(bsf, pkt.get()) >= 0) {
            size_t size = 0;
            const uint8_t* data = av_packet_get_side_data(pkt.get(), AV_PKT_DATA_NEW_EXTRADATA, &size);
            if (data) extradata.assign(data, data + size);
        }
    }
    av_bsf_free(&bsf);
    return extradata;
}

}  // namespace

void FillSyntheticPicture(uint8_t* const data[4], const int linesize[4], int format, int width,
                          int height, int index, int seed) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    const int planes = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(format));
    for (int plane = 0; plane < planes; ++plane) {
        const bool chroma = (plane == 1 || plane == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int ph = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        int bytes_per_row = av_image_get_linesize(static_cast<AVPixelFormat>(format), width, plane);
        // Deeper formats get the same pattern in the top bits of 16-bit little-endian samples.
        const int depth = desc->comp[0].depth;
        const int step = depth > 8 ? 2 : 1;
        for (int y = 0; y < ph; ++y) {
            uint8_t* row = data[plane] + static_cast<ptrdiff_t>(y) * linesize[plane];
            for (int x = 0; x < bytes_per_row / step; ++x) {
                int v = (x * 3 + y * 2 + index * 5 + seed * 37 + plane * 60) & 0xFF;
                // A box that moves from frame to frame gives the encoder real motion.
                const int bx = (index * 4 + seed * 11) % (width > 32 ? width - 32 : 1);
                if (!chroma && y >= ph / 4 && y < ph / 4 + 24 && x >= bx && x < bx + 32) v = 235 - plane * 40;
                if (step == 1) {
                    row[x] = static_cast<uint8_t>(v);
                } else {
                    const int sample = v << (depth - 8);
                    row[2 * x] = static_cast<uint8_t>(sample & 0xFF);
                    row[2 * x + 1] = static_cast<uint8_t>(sample >> 8);
                }
            }
        }
    }
}

EncodedVideo EncodeVideo(const std::string& encoder, const VideoOptions& o) {
    EncodedVideo out;
    out.encoder = encoder;
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder.c_str());
    EXPECT_NE(codec, nullptr) << "no encoder " << encoder;
    if (!codec) return out;
    CodecCtx ctx(avcodec_alloc_context3(codec));
    ctx->sample_aspect_ratio = AVRational{o.sar_num, o.sar_den};
    ctx->width = o.width;
    ctx->height = o.height;
    ctx->time_base = AVRational{1, o.fps};
    ctx->framerate = AVRational{o.fps, 1};
    ctx->gop_size = o.gop;
    ctx->max_b_frames = o.b_frames;
    ctx->bit_rate = o.bit_rate;
    ctx->thread_count = 1;
    AVPixelFormat fmt = o.pix_fmt >= 0 ? static_cast<AVPixelFormat>(o.pix_fmt)
                        : (codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P);
    ctx->pix_fmt = fmt;
    if (o.global_header) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (encoder == "mjpeg") ctx->color_range = AVCOL_RANGE_JPEG;
    if (o.colorspace >= 0) ctx->colorspace = static_cast<AVColorSpace>(o.colorspace);
    if (o.color_range >= 0) ctx->color_range = static_cast<AVColorRange>(o.color_range);
    AVDictionary* opts = nullptr;
    // Cameras code MJPEG with the standard Huffman tables: RTP's JPEG payload carries no others.
    if (encoder == "mjpeg") av_dict_set(&opts, "huffman", "default", 0);
    if (encoder == "libx264") {
        av_dict_set(&opts, "preset", "veryfast", 0);
        av_dict_set(&opts, "tune", "zerolatency", 0);
        std::string params = "threads=1";
        if (o.b_frames > 0) params += ":bframes=" + std::to_string(o.b_frames) + ":rc-lookahead=10:sync-lookahead=0:bframe-pyramid=0";
        if (!o.x264_params.empty()) params += ":" + o.x264_params;
        av_dict_set(&opts, "x264-params", params.c_str(), 0);
    }
    // Today's camera codecs at their fastest settings, one thread, no frames held back:
    // the suites also run under AddressSanitizer.
    if (encoder == "libx265") {
        av_dict_set(&opts, "preset", "ultrafast", 0);
        av_dict_set(&opts, "tune", "zerolatency", 0);
        std::string params = "log-level=error:pools=none:frame-threads=1";
        if (o.b_frames > 0) params += ":bframes=" + std::to_string(o.b_frames) + ":b-adapt=0:rc-lookahead=" + std::to_string(o.b_frames + 1);
        if (!o.x264_params.empty()) params += ":" + o.x264_params;
        av_dict_set(&opts, "x265-params", params.c_str(), 0);
    } else if (encoder == "libvpx-vp9") {
        av_dict_set(&opts, "deadline", "realtime", 0);
        av_dict_set(&opts, "cpu-used", "8", 0);
        av_dict_set(&opts, "lag-in-frames", "0", 0);
    } else if (encoder == "libaom-av1") {
        av_dict_set(&opts, "usage", "realtime", 0);
        av_dict_set(&opts, "cpu-used", "8", 0);
        av_dict_set(&opts, "lag-in-frames", "0", 0);
    }
    const int opened = avcodec_open2(ctx.get(), codec, &opts);
    av_dict_free(&opts);
    EXPECT_EQ(opened, 0) << "cannot open encoder " << encoder;
    if (opened != 0) return out;

    out.codec_id = codec->id;
    out.width = o.width;
    out.height = o.height;
    out.pix_fmt = fmt;
    out.fps = o.fps;
    if (ctx->extradata_size > 0) out.extradata.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);

    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    frame->format = fmt;
    frame->width = o.width;
    frame->height = o.height;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    for (int i = 0; i < o.frames; ++i) {
        EXPECT_EQ(av_frame_make_writable(frame.get()), 0);
        FillSyntheticPicture(frame->data, frame->linesize, fmt, o.width, o.height, i, o.seed);
        frame->pts = i;
        EXPECT_GE(avcodec_send_frame(ctx.get(), frame.get()), 0);
        Collect(ctx.get(), pkt.get(), out);
    }
    avcodec_send_frame(ctx.get(), nullptr);
    Collect(ctx.get(), pkt.get(), out);
    if (o.global_header && out.extradata.empty() && codec->id == AV_CODEC_ID_AV1 && !out.packets.empty())
        out.extradata = ExtractExtradata(ctx.get(), out.packets[0]);
    return out;
}

std::vector<Picture> DecodeReference(int codec_id, const std::vector<EncodedPacket>& packets,
                                     const std::vector<uint8_t>& extradata, bool drain) {
    std::vector<Picture> pictures;
    const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(codec_id));
    EXPECT_NE(codec, nullptr);
    if (!codec) return pictures;
    CodecCtx ctx(avcodec_alloc_context3(codec));
    ctx->thread_count = 1;
    if (!extradata.empty()) {
        ctx->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(ctx->extradata, extradata.data(), extradata.size());
        ctx->extradata_size = static_cast<int>(extradata.size());
    }
    EXPECT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0);
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    for (const EncodedPacket& p : packets) {
        av_new_packet(pkt.get(), static_cast<int>(p.data.size()));
        std::memcpy(pkt->data, p.data.data(), p.data.size());
        avcodec_send_packet(ctx.get(), pkt.get());
        av_packet_unref(pkt.get());
        if (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            pictures.push_back(ToPicture(frame.get()));
            av_frame_unref(frame.get());
        }
    }
    if (drain) {
        avcodec_send_packet(ctx.get(), nullptr);
        while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            pictures.push_back(ToPicture(frame.get()));
            av_frame_unref(frame.get());
        }
    }
    return pictures;
}

std::vector<uint8_t> ScaleReference(const Picture& source, int width, int height, int format, int flags) {
    std::vector<uint8_t> out;
    SwsContext* sws = sws_getContext(source.width, source.height, static_cast<AVPixelFormat>(source.format),
                                     width, height, static_cast<AVPixelFormat>(format), flags, nullptr,
                                     nullptr, nullptr);
    EXPECT_NE(sws, nullptr);
    if (!sws) return out;
    const AVPixFmtDescriptor* from = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(source.format));
    const AVPixFmtDescriptor* to = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    if (!(from->flags & AV_PIX_FMT_FLAG_RGB) && from->nb_components >= 3 && (to->flags & AV_PIX_FMT_FLAG_RGB)) {
        const int matrix = source.colorspace == AVCOL_SPC_BT709        ? SWS_CS_ITU709
                           : source.colorspace == AVCOL_SPC_BT2020_NCL ? SWS_CS_BT2020
                           : source.colorspace == AVCOL_SPC_SMPTE240M  ? SWS_CS_SMPTE240M
                                                                       : SWS_CS_ITU601;
        const bool full = source.color_range == AVCOL_RANGE_JPEG || source.format == AV_PIX_FMT_YUVJ420P ||
                          source.format == AV_PIX_FMT_YUVJ422P || source.format == AV_PIX_FMT_YUVJ444P;
        const int* table = sws_getCoefficients(matrix);
        EXPECT_GE(sws_setColorspaceDetails(sws, table, full ? 1 : 0, table, 1, 0, 1 << 16, 1 << 16), 0);
    }
    uint8_t* src_data[4];
    int src_lines[4];
    av_image_fill_arrays(src_data, src_lines, source.bytes.data(), static_cast<AVPixelFormat>(source.format),
                         source.width, source.height, 1);
    // Aligned rows: libswscale's fast RGB writers leave row ends unwritten otherwise.
    uint8_t* dst_data[4];
    int dst_lines[4];
    av_image_alloc(dst_data, dst_lines, width, height, static_cast<AVPixelFormat>(format), 64);
    sws_scale(sws, src_data, src_lines, 0, source.height, dst_data, dst_lines);
    out.resize(av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, 1));
    av_image_copy_to_buffer(out.data(), static_cast<int>(out.size()), dst_data, dst_lines,
                            static_cast<AVPixelFormat>(format), width, height, 1);
    av_freep(&dst_data[0]);
    sws_freeContext(sws);
    return out;
}

std::vector<uint8_t> ExactRgbReference(const Picture& source, int format) {
    const int w = source.width;
    const int h = source.height;
    const int cw = (w + 1) / 2;
    const uint8_t* luma = source.bytes.data();
    const uint8_t* chroma = luma + static_cast<size_t>(w) * h;
    const bool semi = source.format == AV_PIX_FMT_NV12 || source.format == AV_PIX_FMT_NV21;
    const bool full = source.color_range == AVCOL_RANGE_JPEG || source.format == AV_PIX_FMT_YUVJ420P;
    double kr = 0.299, kb = 0.114;
    if (source.colorspace == AVCOL_SPC_BT709) kr = 0.2126, kb = 0.0722;
    if (source.colorspace == AVCOL_SPC_BT2020_NCL) kr = 0.2627, kb = 0.0593;
    const double kg = 1 - kr - kb;
    // Byte positions of R, G, B and alpha (-1: none) in each pixel.
    struct Order { int format, bytes, r, g, b, a; };
    const Order orders[] = {{AV_PIX_FMT_BGR24, 3, 2, 1, 0, -1}, {AV_PIX_FMT_RGB24, 3, 0, 1, 2, -1},
                            {AV_PIX_FMT_BGRA, 4, 2, 1, 0, 3},   {AV_PIX_FMT_RGBA, 4, 0, 1, 2, 3},
                            {AV_PIX_FMT_ARGB, 4, 1, 2, 3, 0},   {AV_PIX_FMT_ABGR, 4, 3, 2, 1, 0}};
    const Order* order = nullptr;
    for (const Order& o : orders) {
        if (o.format == format) order = &o;
    }
    EXPECT_NE(order, nullptr) << "no exact reference for format " << format;
    if (!order) return {};
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * order->bytes);
    auto clip = [](double v) { return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v)))); };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t c = static_cast<size_t>(y / 2) * cw + x / 2;
            double u = 0, v = 0;
            if (semi) {
                const uint8_t* pair = chroma + 2 * c;
                u = (source.format == AV_PIX_FMT_NV12 ? pair[0] : pair[1]) - 128.0;
                v = (source.format == AV_PIX_FMT_NV12 ? pair[1] : pair[0]) - 128.0;
            } else {
                const size_t plane = static_cast<size_t>(cw) * ((h + 1) / 2);
                u = chroma[c] - 128.0;
                v = chroma[plane + c] - 128.0;
            }
            double luma_value = luma[static_cast<size_t>(y) * w + x];
            if (!full) {
                luma_value = (luma_value - 16) * 255 / 219;
                u *= 255.0 / 224;
                v *= 255.0 / 224;
            }
            const double r = luma_value + 2 * (1 - kr) * v;
            const double b = luma_value + 2 * (1 - kb) * u;
            const double g = (luma_value - kr * r - kb * b) / kg;
            uint8_t* pixel = &out[(static_cast<size_t>(y) * w + x) * order->bytes];
            pixel[order->r] = clip(r);
            pixel[order->g] = clip(g);
            pixel[order->b] = clip(b);
            if (order->a >= 0) pixel[order->a] = 255;
        }
    }
    return out;
}

double MeanAbsDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 255;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += static_cast<uint64_t>(std::abs(a[i] - b[i]));
    return static_cast<double>(sum) / static_cast<double>(a.size());
}

std::vector<uint8_t> Concatenate(const std::vector<EncodedPacket>& packets) {
    std::vector<uint8_t> all;
    for (const EncodedPacket& p : packets) all.insert(all.end(), p.data.begin(), p.data.end());
    return all;
}

}  // namespace qvtest
