// Pushed bytes handed to libavcodec with the zero padding it may read past the end.
#pragma once

#include <cstdint>

#include "base/buffer_trim.h"
#include "base/ffmpeg_deleters.h"

namespace qv {

class PaddedPacket {
public:
    // Copies the bytes into a padded buffer of our own and sends them as one packet. The
    // buffer is reference counted and reused while the decoder holds no reference to it.
    // Returns avcodec_send_packet's status. `notes`, when given, is the demuxed packet the
    // bytes come from: its times and side data (samples to drop at the start and end of the
    // stream, new parameters) go along with this send only.
    int Send(AVCodecContext* ctx, const uint8_t* data, int length, const AVPacket* notes = nullptr);
    void Release();

private:
    // Makes the packet refer to a padded copy of the bytes; false when out of memory.
    bool Fill(const uint8_t* data, int length);

    PacketPtr packet_;
    BufferTrim trim_;
};

}  // namespace qv
