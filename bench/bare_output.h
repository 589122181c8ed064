// What a bare FFmpeg loop does with each decoded picture, and nothing more: nothing at all
// (decode alone), one copy of the planes into a contiguous buffer, or one sws_scale from the
// frame's own planes straight into the packed BGR24 output buffer (at the picture's size or
// another one).
#pragma once

#include <cstdint>

#include "base/ffmpeg.h"

namespace qvbench {

enum class Work { kDecodeOnly, kCopy, kConvert };

class BareOutput {
public:
    BareOutput(int width, int height, bool convert)
        : BareOutput(width, height, convert ? Work::kConvert : Work::kCopy, width, height) {}
    BareOutput(int width, int height, Work work, int out_width, int out_height)
        : width_(width), height_(height), work_(work) {
        const bool convert = work == Work::kConvert;
        const AVPixelFormat format = convert ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUV420P;
        if (!convert) out_width = width, out_height = height;
        size_ = av_image_get_buffer_size(format, out_width, out_height, 1);
        buffer_ = static_cast<uint8_t*>(av_malloc(size_));
        av_image_fill_arrays(planes_, lines_, buffer_, format, out_width, out_height, 1);
        if (convert) {
            // Single-threaded, as libswscale is by default; the flags the library uses without
            // high quality.
            sws_ = sws_getContext(width, height, AV_PIX_FMT_YUV420P, out_width, out_height, AV_PIX_FMT_BGR24,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr);
        }
    }
    ~BareOutput() {
        sws_freeContext(sws_);
        av_free(buffer_);
    }
    BareOutput(const BareOutput&) = delete;
    BareOutput& operator=(const BareOutput&) = delete;

    // The buffer the picture is handed out in (for decode alone: the buffer, untouched).
    const uint8_t* Deliver(const AVFrame* frame) {
        if (work_ == Work::kConvert) {
            sws_scale(sws_, frame->data, frame->linesize, 0, height_, planes_, lines_);
        } else if (work_ == Work::kCopy) {
            av_image_copy_to_buffer(buffer_, size_, frame->data, frame->linesize, AV_PIX_FMT_YUV420P, width_,
                                    height_, 1);
        }
        return buffer_;
    }

private:
    int width_, height_, size_ = 0;
    Work work_;
    uint8_t* buffer_ = nullptr;
    uint8_t* planes_[4] = {};
    int lines_[4] = {};
    SwsContext* sws_ = nullptr;
};

}  // namespace qvbench
