// Cutting files into stream-mode units.
#include "frame_cutter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "tool_common.h"

namespace qvtool {
namespace {

constexpr size_t kReadSize = 1 << 16;

// Offset of the next pack start code 00 00 01 BA at or after from, or npos.
size_t FindPackStart(const std::vector<uint8_t>& b, size_t from, size_t end) {
    for (size_t i = from; i + 4 <= end; ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xBA) return i;
    }
    return std::string::npos;
}

}  // namespace

FrameCutter::FrameCutter(Mode mode, int ffmpeg_codec_id, int chunk_size)
    : mode_(mode), codec_id_(ffmpeg_codec_id), chunk_size_(chunk_size) {}

FrameCutter::~FrameCutter() {
    if (file_) std::fclose(file_);
    if (parser_) av_parser_close(parser_);
    if (parser_ctx_) avcodec_free_context(&parser_ctx_);
    if (packet_) av_packet_free(&packet_);
    if (container_) avformat_close_input(&container_);
}

int FrameCutter::Open(const std::string& path) {
    if (!CheckReadable(path)) return kExitInput;
    if (mode_ == Mode::kContainerPackets) return OpenContainer(path);
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return Fail(kExitInput, "cannot read '" + path + "': " + std::strerror(errno));
    size_ = FileSize(path);
    if (mode_ == Mode::kParser) {
        parser_ = av_parser_init(codec_id_);
        const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(codec_id_));
        parser_ctx_ = avcodec_alloc_context3(codec);
        if (!parser_ || !parser_ctx_) {
            return Fail(kExitUsage, std::string("no frame parser for the codec ") +
                                        avcodec_get_name(static_cast<AVCodecID>(codec_id_)));
        }
    }
    if (mode_ == Mode::kFixedChunks && chunk_size_ <= 0) {
        return Fail(kExitUsage, "chunk size must be positive");
    }
    return kExitOk;
}

int FrameCutter::OpenContainer(const std::string& path) {
    size_ = FileSize(path);
    if (avformat_open_input(&container_, path.c_str(), nullptr, nullptr) != 0 ||
        avformat_find_stream_info(container_, nullptr) < 0) {
        return Fail(kExitInput, "'" + path + "' is not a container FFmpeg can read (IVF, WebM, mp4, ...)");
    }
    for (unsigned i = 0; i < container_->nb_streams; ++i) {
        if (container_->streams[i]->codecpar->codec_id == codec_id_) {
            stream_index_ = static_cast<int>(i);
            break;
        }
    }
    if (stream_index_ < 0) {
        return Fail(kExitInput, "'" + path + "' holds no " +
                                    avcodec_get_name(static_cast<AVCodecID>(codec_id_)) + " stream");
    }
    packet_ = av_packet_alloc();
    if (!packet_) return Fail(kExitFailed, "out of memory");
    return kExitOk;
}

bool FrameCutter::NextPacket(std::vector<uint8_t>* unit) {
    while (av_read_frame(container_, packet_) == 0) {
        const bool ours = packet_->stream_index == stream_index_;
        if (ours) {
            unit->assign(packet_->data, packet_->data + packet_->size);
            if (packet_->pos >= 0) consumed_ = packet_->pos + packet_->size;
        }
        av_packet_unref(packet_);
        if (ours) return true;
    }
    consumed_ = size_;
    return false;
}

int FrameCutter::stream_sample_rate() const {
    return parser_ctx_ && parser_ctx_->sample_rate > 0 ? parser_ctx_->sample_rate : 0;
}

int FrameCutter::stream_channels() const {
    return parser_ctx_ && parser_ctx_->ch_layout.nb_channels > 0 ? parser_ctx_->ch_layout.nb_channels
                                                                 : 0;
}

bool FrameCutter::Fill() {
    if (eof_) return false;
    // Drop what was handed out before growing the buffer.
    if (start_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + start_);
        end_ -= start_;
        start_ = 0;
    }
    buffer_.resize(end_ + kReadSize + AV_INPUT_BUFFER_PADDING_SIZE);
    const size_t got = std::fread(buffer_.data() + end_, 1, kReadSize, file_);
    end_ += got;
    // The parser reads a little past the data it is given: zeros there, as libavcodec asks.
    buffer_.resize(end_ + AV_INPUT_BUFFER_PADDING_SIZE);
    std::fill(buffer_.begin() + end_, buffer_.end(), 0);
    if (got < kReadSize) {
        eof_ = true;
        if (std::ferror(file_)) read_error_ = true;
    }
    return got > 0;
}

bool FrameCutter::Next(std::vector<uint8_t>* unit) {
    unit->clear();
    switch (mode_) {
        case Mode::kContainerPackets:
            return NextPacket(unit);
        case Mode::kFixedChunks: {
            while (end_ - start_ < static_cast<size_t>(chunk_size_) && Fill()) {
            }
            const size_t n = std::min(end_ - start_, static_cast<size_t>(chunk_size_));
            if (n == 0) return false;
            unit->assign(buffer_.begin() + start_, buffer_.begin() + start_ + n);
            start_ += n;
            consumed_ += n;
            return true;
        }
        case Mode::kProgramStreamPacks: {
            // A pack runs from one 00 00 01 BA to the next; bytes before the first are skipped.
            for (;;) {
                size_t first = FindPackStart(buffer_, start_, end_);
                if (first == std::string::npos) {
                    // Keep the last three bytes: a start code may straddle two reads.
                    const size_t keep = std::min<size_t>(3, end_ - start_);
                    consumed_ += end_ - start_ - keep;
                    start_ = end_ - keep;
                    if (!Fill()) return false;
                    continue;
                }
                consumed_ += first - start_;
                start_ = first;
                size_t next = FindPackStart(buffer_, start_ + 4, end_);
                while (next == std::string::npos && Fill()) {
                    next = FindPackStart(buffer_, start_ + 4, end_);
                }
                const size_t end = next == std::string::npos ? end_ : next;
                unit->assign(buffer_.begin() + start_, buffer_.begin() + end);
                consumed_ += end - start_;
                start_ = end;
                return true;
            }
        }
        case Mode::kParser: {
            for (;;) {
                if (end_ == start_ && !eof_) Fill();
                const bool at_end = end_ == start_ && eof_;
                if (at_end && flushed_) return false;
                uint8_t* out = nullptr;
                int out_size = 0;
                const int n = av_parser_parse2(
                    parser_, parser_ctx_, &out, &out_size,
                    at_end ? nullptr : buffer_.data() + start_,
                    at_end ? 0 : static_cast<int>(end_ - start_), AV_NOPTS_VALUE,
                    AV_NOPTS_VALUE, 0);
                if (at_end) flushed_ = true;
                if (n < 0) return false;
                start_ += n;
                consumed_ += n;
                if (out_size > 0) {
                    unit->assign(out, out + out_size);
                    return true;
                }
            }
        }
    }
    return false;
}

}  // namespace qvtool
