// Fast decoding: work an output much smaller than the picture cannot show is left undone.
// H.264 and HEVC skip the loop filter (its smoothing of block edges is averaged away when
// two or more decoded pixels make one output pixel) and take libavcodec's fast flag; MJPEG
// decodes at a half, quarter or eighth of its size (libavcodec's lowres: the DCT's low
// frequencies alone, which is what a box filter of that ratio keeps).
#include <mutex>

#include "base/ffmpeg.h"
#include "base/library.h"
#include "video/video_decoder.h"

namespace qv {
namespace {

constexpr int kMaxLowres = 3;  // an eighth

// A side of the picture decoded at this lowres gives the output's side as the exact picture
// would: the same size, or a whole multiple of it, so that every output pixel's box covers
// the same part of the picture as the exact picture's box. (Boxes of alternating widths
// shift edges by up to a pixel: 22 to 26 dB from the exact tile on sharp edges.)
bool LowresFits(int coded, int out, int lowres) {
    const int side = AV_CEIL_RSHIFT(coded, lowres);
    return side == out || (side > out && side % out == 0 && coded % side == 0);
}

// The coarsest lowres that fits both ways.
int LowresFor(int coded_width, int coded_height, int out_width, int out_height, int codec_max) {
    int best = 0;
    for (int lowres = 1; lowres <= kMaxLowres && lowres <= codec_max; ++lowres) {
        if (LowresFits(coded_width, out_width, lowres) && LowresFits(coded_height, out_height, lowres)) best = lowres;
    }
    return best;
}

}  // namespace

void VideoDecoder::FollowOutput(int width, int height, int out_width, int out_height) {
    // Off, with nothing left skipped from when it was on: every picture passes here.
    if (!ctx_ || (!fast_ && !filter_skipped_ && ctx_->lowres == 0)) return;
    const bool small = fast_ && out_width > 0 && out_height > 0;
    switch (ctx_->codec_id) {
        case AV_CODEC_ID_H264:
        case AV_CODEC_ID_HEVC:
            SkipLoopFilter(small && 2 * out_width <= width && 2 * out_height <= height);
            return;
        case AV_CODEC_ID_MJPEG: {
            // Frame threads hold pictures that a new context would lose.
            if (ctx_->active_thread_type & FF_THREAD_FRAME) return;
            const int coded_width = ctx_->coded_width > 0 ? ctx_->coded_width : width << ctx_->lowres;
            const int coded_height = ctx_->coded_height > 0 ? ctx_->coded_height : height << ctx_->lowres;
            const int wanted = small && ctx_->codec
                                   ? LowresFor(coded_width, coded_height, out_width, out_height, ctx_->codec->max_lowres)
                                   : 0;
            if (wanted != ctx_->lowres) ReopenAtLowres(wanted);
            return;
        }
        default: return;
    }
}

void VideoDecoder::SkipLoopFilter(bool on) {
    if (on == filter_skipped_) return;
    // Both are read per slice (frame threads copy them with each packet).
    filter_skipped_ = on;
    ctx_->skip_loop_filter = on ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
    if (on) {
        ctx_->flags2 |= AV_CODEC_FLAG2_FAST;
    } else {
        ctx_->flags2 &= ~AV_CODEC_FLAG2_FAST;
    }
}

// MJPEG chooses its transform at the open, so another lowres needs a context of its own.
// Every picture is a key frame: the new context decodes the next packet as the old one would.
bool VideoDecoder::ReopenAtLowres(int lowres) {
    const AVCodecContext* old = ctx_.get();
    const AVCodec* codec = old->codec;
    CodecContextPtr fresh(avcodec_alloc_context3(codec));
    AVCodecParameters* par = avcodec_parameters_alloc();
    bool ok = fresh && par && avcodec_parameters_from_context(par, old) >= 0 &&
              avcodec_parameters_to_context(fresh.get(), par) >= 0;
    avcodec_parameters_free(&par);
    if (!ok) return false;
    AVCodecContext* c = fresh.get();
    // The full size: the open divides it by the lowres.
    if (old->coded_width > 0 && old->coded_height > 0) {
        c->width = old->coded_width;
        c->height = old->coded_height;
    }
    c->lowres = lowres;
    c->pkt_timebase = old->pkt_timebase;
    c->thread_count = old->thread_count;
    c->thread_type = old->thread_type;
    c->max_pixels = old->max_pixels;
    c->flags = old->flags;
    c->flags2 = old->flags2;
    c->skip_frame = old->skip_frame;
    c->strict_std_compliance = old->strict_std_compliance;
    std::lock_guard<std::mutex> lock(GlobalLock());
    if (avcodec_open2(c, codec, nullptr) != 0) return false;
    ctx_ = std::move(fresh);
    return true;
}

}  // namespace qv
