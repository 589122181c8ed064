#include "base/padded_packet.h"

#include <cstring>

#include "base/ffmpeg.h"

namespace qv {

bool PaddedPacket::Fill(const uint8_t* data, int length) {
    if (!packet_) packet_.reset(av_packet_alloc());
    if (!packet_) return false;
    // The packet owns the padded buffer and keeps it between sends: once the decoder has
    // dropped its reference the buffer is ours alone and is reused, so steady state
    // allocates nothing beyond the reference the decoder itself takes.
    const size_t needed = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    AVBufferRef* buffer = packet_->buf;
    const size_t smaller = buffer ? trim_.Use(needed, buffer->size) : 0;
    if (!buffer || buffer->size < needed || smaller > 0 || !av_buffer_is_writable(buffer)) {
        const size_t size = buffer && buffer->size >= needed && smaller > 0 ? smaller : needed + needed / 4;
        av_packet_unref(packet_.get());
        packet_->buf = av_buffer_alloc(size);
        if (!packet_->buf) return false;
        buffer = packet_->buf;
    }
    std::memcpy(buffer->data, data, static_cast<size_t>(length));
    std::memset(buffer->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    packet_->data = buffer->data;
    packet_->size = length;
    return true;
}

int PaddedPacket::Send(AVCodecContext* ctx, const uint8_t* data, int length, const AVPacket* notes) {
    if (!Fill(data, length)) return AVERROR(ENOMEM);
    AVPacket* packet = packet_.get();
    for (int i = 0; notes && i < notes->side_data_elems; ++i) {
        const AVPacketSideData& note = notes->side_data[i];
        uint8_t* copy = av_packet_new_side_data(packet, note.type, note.size);
        if (!copy) {
            av_packet_free_side_data(packet);
            return AVERROR(ENOMEM);
        }
        std::memcpy(copy, note.data, note.size);
    }
    // The times let libavcodec time the samples it keeps of a packet whose start it drops.
    packet->pts = notes ? notes->pts : AV_NOPTS_VALUE;
    packet->dts = notes ? notes->dts : AV_NOPTS_VALUE;
    const int status = avcodec_send_packet(ctx, packet);
    if (packet->side_data_elems > 0) av_packet_free_side_data(packet);
    return status;
}

void PaddedPacket::Release() {
    if (packet_) av_packet_unref(packet_.get());
}

}  // namespace qv
