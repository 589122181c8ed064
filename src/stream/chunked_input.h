// Pushed video cut at packet boundaries rather than frame boundaries (transfer_mode 1).
//
// The decoders no longer put frames together from pieces, so libavcodec's parser cuts the
// pushed bytes into whole frames first. Frames the decoder cannot take yet wait here, in
// order, and go in first on later calls: no frame is lost and the order is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/buffer_trim.h"
#include "base/ffmpeg_deleters.h"

namespace qv {

class VideoDecoder;

class ChunkedInput {
public:
    // True when a parser serves the context's codec (made on first use; a parser of another
    // codec is dropped with the bytes it holds). Codecs without a parser take the pushed
    // bytes as they come.
    bool Serves(const AVCodecContext* ctx);
    // Cuts the bytes into frames and queues them. Returns 0 or the first failure.
    int Parse(AVCodecContext* ctx, const uint8_t* data, int length) { return Cut(ctx, data, length, false); }
    // End of stream: the frame the parser still holds is queued.
    int Finish(AVCodecContext* ctx);
    // Sends queued frames until the decoder is full. A picture taken out to make room is
    // left in the decoder's frame (`got`); the first failure goes to `status`.
    void SendQueuedFrames(VideoDecoder& decoder, bool& got, int& status);

    size_t waiting_frames() const { return sizes_.size() - head_; }
    const AVCodecParserContext* parser() const { return parser_.get(); }
    // Bytes the parser took since it last gave a frame (what it may hold).
    size_t parsed_since_frame() const { return parsed_since_frame_; }
    // Drops the parser and the queue, and their memory.
    void Release();
    // Drops the queued frames and what the parser holds, keeping the memory.
    void Clear();

private:
    // `finish`: no bytes, the parser gives up the frame it holds.
    int Cut(AVCodecContext* ctx, const uint8_t* data, int length, bool finish);
    bool QueueChunkedFrame(const uint8_t* data, int length);

    ParserPtr parser_;
    std::vector<uint8_t> input_;   // pushed bytes + zero padding, as parsers read ahead
    std::vector<uint8_t> queue_;   // waiting frames back to back
    std::vector<int> sizes_;       // their sizes
    size_t head_ = 0;              // the next frame to send
    size_t head_offset_ = 0;       // its offset in queue_
    size_t parsed_since_frame_ = 0;
    BufferTrim input_trim_;
    BufferTrim queue_trim_;
};

}  // namespace qv
