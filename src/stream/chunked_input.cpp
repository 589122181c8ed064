#include "stream/chunked_input.h"

#include <cstring>
#include <new>

#include "base/ffmpeg.h"
#include "video/video_decoder.h"

namespace qv {
namespace {

// A host pushing far more than one frame per call would otherwise grow the queue without
// end; beyond these bounds new frames are refused.
constexpr size_t kMaxWaitingFrames = 1024;
constexpr size_t kMaxWaitingBytes = 64u << 20;

bool ParserServes(const AVCodecParserContext* parser, int codec_id) {
    for (int id : parser->parser->codec_ids) {
        if (id == codec_id) return true;
    }
    return false;
}

}  // namespace

bool ChunkedInput::Serves(const AVCodecContext* ctx) {
    if (parser_ && ParserServes(parser_.get(), ctx->codec_id)) return true;
    Release();
    parser_.reset(av_parser_init(ctx->codec_id));
    return parser_ != nullptr;
}

int ChunkedInput::Cut(AVCodecContext* ctx, const uint8_t* data, int length, bool finish) {
    // Parsers read ahead of the bytes they are given, so they get a padded copy.
    const size_t padded_size = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    const size_t smaller = input_trim_.Use(padded_size, input_.size());
    if (input_.size() < padded_size || smaller > 0) {
        try {
            std::vector<uint8_t>(input_.size() < padded_size ? padded_size : smaller).swap(input_);
        } catch (const std::bad_alloc&) {
            return AVERROR(ENOMEM);
        }
    }
    if (length > 0) std::memcpy(input_.data(), data, static_cast<size_t>(length));
    std::memset(input_.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);

    int status = 0;
    const uint8_t* input = input_.data();
    int remaining = length;
    bool idle = false;  // the previous round neither used bytes nor gave a frame
    while (remaining > 0 || finish) {
        uint8_t* out = nullptr;
        int out_size = 0;
        const int used = av_parser_parse2(parser_.get(), ctx, &out, &out_size, input, remaining,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0 || used > remaining) break;
        input += used;
        remaining -= used;
        parsed_since_frame_ = out_size > 0 ? 0 : parsed_since_frame_ + static_cast<size_t>(used);
        if (out_size > 0 && !QueueChunkedFrame(out, out_size) && status == 0) status = AVERROR(ENOMEM);
        // A parser that makes no progress twice in a row would loop forever.
        const bool progress = used > 0 || out_size > 0;
        if (!progress && idle) break;
        idle = !progress;
        // Without input, one round gives the frame the parser held.
        if (finish) break;
    }
    // Bytes that never end a frame (a broken camera, junk) would grow the parser's buffer
    // without end: past the bound of the frame queue they are dropped, parsing starts afresh.
    if (parsed_since_frame_ > kMaxWaitingBytes) {
        parser_.reset(av_parser_init(ctx->codec_id));
        parsed_since_frame_ = 0;
        if (status == 0) status = AVERROR_INVALIDDATA;
    }
    return status;
}

int ChunkedInput::Finish(AVCodecContext* ctx) {
    if (!parser_) return 0;
    return Cut(ctx, nullptr, 0, true);
}

bool ChunkedInput::QueueChunkedFrame(const uint8_t* data, int length) {
    const size_t waiting_bytes = queue_.size() - head_offset_;
    if (waiting_frames() >= kMaxWaitingFrames || waiting_bytes + static_cast<size_t>(length) > kMaxWaitingBytes) {
        return false;
    }
    try {
        // Frames already sent make room at the front before the storage grows.
        if (head_ > 0 && queue_.size() + static_cast<size_t>(length) > queue_.capacity()) {
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(head_offset_));
            sizes_.erase(sizes_.begin(), sizes_.begin() + static_cast<long>(head_));
            head_ = 0;
            head_offset_ = 0;
        }
        // Room for the size first: once the bytes are in, nothing below can fail.
        if (sizes_.size() == sizes_.capacity()) sizes_.reserve(sizes_.capacity() < 16 ? 16 : 2 * sizes_.capacity());
        queue_.insert(queue_.end(), data, data + length);
        sizes_.push_back(length);
    } catch (const std::bad_alloc&) {
        return false;  // the queue is as it was
    }
    return true;
}

void ChunkedInput::SendQueuedFrames(VideoDecoder& decoder, bool& got, int& status) {
    bool refused = false;  // the last send was refused and nothing came out since
    while (head_ < sizes_.size()) {
        const int size = sizes_[head_];
        const int sent = decoder.Send(queue_.data() + head_offset_, size);
        if (sent == AVERROR(EAGAIN)) {
            // The decoder is full. The first picture taken out is this call's; once it is
            // taken, the frames left wait for the next call.
            if (got || refused) break;
            refused = true;
            got = decoder.ReceiveOne(status);
            continue;
        }
        refused = false;
        // A frame the decoder refuses is dropped; the frames behind it still go in.
        if (sent < 0 && status == 0) status = sent;
        head_offset_ += static_cast<size_t>(size);
        ++head_;
    }
    if (head_ == sizes_.size()) {
        // Everything went in: the storage is reused from its start, and given back after a
        // burst it no longer needs.
        const size_t used = queue_.size();
        queue_.clear();
        sizes_.clear();
        head_ = 0;
        head_offset_ = 0;
        if (queue_trim_.Use(used, queue_.capacity()) > 0) std::vector<uint8_t>().swap(queue_);
    }
}

void ChunkedInput::Clear() {
    queue_.clear();
    sizes_.clear();
    head_ = 0;
    head_offset_ = 0;
    parsed_since_frame_ = 0;
    if (parser_) {
        const int codec = parser_->parser->codec_ids[0];
        parser_.reset(av_parser_init(codec));
    }
}

void ChunkedInput::Release() {
    parser_.reset();
    std::vector<uint8_t>().swap(input_);
    std::vector<uint8_t>().swap(queue_);
    std::vector<int>().swap(sizes_);
    head_ = 0;
    head_offset_ = 0;
    parsed_since_frame_ = 0;
}

}  // namespace qv
