#include "video/padded_packet.h"

#include <cstring>

#include "core/ffmpeg.h"

namespace qv {

bool PaddedPacket::Fill(const uint8_t* data, int length) {
    if (!packet_) packet_.reset(av_packet_alloc());
    if (!packet_) return false;
    const size_t needed = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    AVBufferRef* buffer = buffer_.get();
    if (!buffer || buffer->size < needed || !av_buffer_is_writable(buffer)) {
        buffer_.reset(av_buffer_alloc(needed + needed / 4));
        buffer = buffer_.get();
        if (!buffer) return false;
    }
    std::memcpy(buffer->data, data, static_cast<size_t>(length));
    std::memset(buffer->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    // The packet refers to the padded buffer instead of owning a copy, so libavcodec takes
    // a reference and never allocates one per frame.
    av_packet_unref(packet_.get());
    packet_->buf = av_buffer_ref(buffer);
    if (!packet_->buf) return false;
    packet_->data = buffer->data;
    packet_->size = length;
    return true;
}

int PaddedPacket::Send(AVCodecContext* ctx, const uint8_t* data, int length) {
    if (!Fill(data, length)) return AVERROR(ENOMEM);
    const int status = avcodec_send_packet(ctx, packet_.get());
    av_packet_unref(packet_.get());
    return status;
}

void PaddedPacket::Release() {
    if (packet_) av_packet_unref(packet_.get());
}

}  // namespace qv
