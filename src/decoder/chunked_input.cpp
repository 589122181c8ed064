// Pushed video cut at packet boundaries rather than frame boundaries (transfer_mode 1).
//
// The decoders no longer put frames together from pieces, so a parser cuts the pushed
// bytes into whole frames first. One call still delivers at most one picture: frames the
// decoder cannot take yet wait in a queue of the object and go in first on later calls,
// so no frame is lost and the order is kept.
#include <cstring>
#include <new>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"

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

bool QVDecoder::Impl::UsesChunkedInput() {
    // The mode takes effect at open time, where it sets the decoder's chunked-input flag;
    // file-mode decoders are fed whole packets by the demuxer.
    AVCodecContext* ctx = video_ctx.get();
    if (transfer_mode != 1 || !ctx || (format_ctx && video_stream)) return false;
    if (!(ctx->flags2 & AV_CODEC_FLAG2_CHUNKS)) return false;
    if (video_parser && ParserServes(video_parser.get(), ctx->codec_id)) return true;

    // A parser of another codec holds another stream's bytes.
    ReleaseChunkedInput();
    video_parser.reset(av_parser_init(ctx->codec_id));
    // Codecs without a parser take the pushed bytes as they come.
    return video_parser != nullptr;
}

int QVDecoder::Impl::DecodeChunkedVideo(const uint8_t* data, int length) {
    AVCodecContext* ctx = video_ctx.get();
    if (!frame) frame.reset(av_frame_alloc());
    if (!work_packet) work_packet.reset(av_packet_alloc());
    if (!frame || !work_packet) return -10005;

    // Parsers read ahead of the bytes they are given, so they get a padded copy.
    const size_t padded_size = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (chunk_input.size() < padded_size) {
        try {
            chunk_input.resize(padded_size);
        } catch (const std::bad_alloc&) {
            return -10005;
        }
    }
    std::memcpy(chunk_input.data(), data, static_cast<size_t>(length));
    std::memset(chunk_input.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);

    int status = 0;  // the first failure of this call
    const uint8_t* input = chunk_input.data();
    int remaining = length;
    bool idle = false;  // the previous round neither used bytes nor gave a frame
    while (remaining > 0) {
        uint8_t* out = nullptr;
        int out_size = 0;
        const int used = av_parser_parse2(video_parser.get(), ctx, &out, &out_size, input, remaining,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0 || used > remaining) break;
        input += used;
        remaining -= used;
        if (out_size > 0 && !QueueChunkedFrame(out, out_size) && status == 0) {
            status = AVERROR(ENOMEM);
        }
        // A parser that makes no progress twice in a row would loop forever.
        const bool progress = used > 0 || out_size > 0;
        if (!progress && idle) break;
        idle = !progress;
    }

    bool got_picture = false;
    SendQueuedFrames(ctx, got_picture, status);
    if (!got_picture) {
        const int received = avcodec_receive_frame(ctx, frame.get());
        got_picture = received == 0;
        if (received < 0 && received != AVERROR(EAGAIN) && received != AVERROR_EOF && status == 0) {
            status = received;
        }
    }
    // A picture is delivered even when another frame of the same call failed: it is whole,
    // and the host would otherwise never see it.
    return DeliverPicture(got_picture, got_picture ? 0 : status);
}

bool QVDecoder::Impl::QueueChunkedFrame(const uint8_t* data, int length) {
    const size_t waiting_frames = chunk_sizes.size() - chunk_head;
    const size_t waiting_bytes = chunk_queue.size() - chunk_head_offset;
    if (waiting_frames >= kMaxWaitingFrames ||
        waiting_bytes + static_cast<size_t>(length) > kMaxWaitingBytes) {
        return false;
    }
    try {
        // Frames already sent make room at the front before the storage grows.
        if (chunk_head > 0 && chunk_queue.size() + static_cast<size_t>(length) > chunk_queue.capacity()) {
            chunk_queue.erase(chunk_queue.begin(), chunk_queue.begin() + static_cast<long>(chunk_head_offset));
            chunk_sizes.erase(chunk_sizes.begin(), chunk_sizes.begin() + static_cast<long>(chunk_head));
            chunk_head = 0;
            chunk_head_offset = 0;
        }
        // Room for the size first: once the bytes are in, nothing below can fail.
        if (chunk_sizes.size() == chunk_sizes.capacity()) {
            chunk_sizes.reserve(chunk_sizes.capacity() < 16 ? 16 : 2 * chunk_sizes.capacity());
        }
        chunk_queue.insert(chunk_queue.end(), data, data + length);
        chunk_sizes.push_back(length);
    } catch (const std::bad_alloc&) {
        return false;  // the queue is as it was
    }
    return true;
}

void QVDecoder::Impl::SendQueuedFrames(AVCodecContext* ctx, bool& got_picture, int& status) {
    bool refused = false;  // the last send was refused and nothing came out since
    while (chunk_head < chunk_sizes.size()) {
        const int size = chunk_sizes[chunk_head];
        const int sent = SendPushedBytes(ctx, chunk_queue.data() + chunk_head_offset, size);
        if (sent == AVERROR(EAGAIN)) {
            // The decoder is full. The first picture taken out is this call's; once it is
            // taken, the frames left wait for the next call.
            if (got_picture || refused) break;
            refused = true;
            const int received = avcodec_receive_frame(ctx, frame.get());
            if (received == 0) {
                got_picture = true;
            } else if (received != AVERROR(EAGAIN) && received != AVERROR_EOF && status == 0) {
                status = received;
            }
            continue;
        }
        refused = false;
        // A frame the decoder refuses is dropped; the frames behind it still go in.
        if (sent < 0 && status == 0) status = sent;
        chunk_head_offset += static_cast<size_t>(size);
        ++chunk_head;
    }
    if (chunk_head == chunk_sizes.size()) {
        // Everything went in: the storage is reused from its start, nothing is freed.
        chunk_queue.clear();
        chunk_sizes.clear();
        chunk_head = 0;
        chunk_head_offset = 0;
    }
}

void QVDecoder::Impl::ReleaseChunkedInput() {
    video_parser.reset();
    std::vector<uint8_t>().swap(chunk_input);
    std::vector<uint8_t>().swap(chunk_queue);
    std::vector<int>().swap(chunk_sizes);
    chunk_head = 0;
    chunk_head_offset = 0;
}
