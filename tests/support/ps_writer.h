// Writes MPEG-2 program stream packs the way IP cameras send them: one pack per video
// frame, a system header in front of key frames, the frame in PES packets of at most
// 65535 bytes, and an audio PES packet beside it.
#pragma once

#include <cstdint>
#include <vector>

namespace qvtest {

// Appends a pack header (00 00 01 BA ...) with the given number of stuffing bytes (0..7).
void AppendPackHeader(std::vector<uint8_t>& out, uint64_t scr, int stuffing = 0);

// Appends a system header listing the given stream ids (0xE0 video, 0xC0 audio, ...).
void AppendSystemHeader(std::vector<uint8_t>& out, const std::vector<int>& stream_ids);

// Appends one PES packet. pts < 0: no time stamp; then `stuffing` 0xFF bytes fill the
// header data (header data length = stuffing).
void AppendPesPacket(std::vector<uint8_t>& out, int stream_id, const uint8_t* payload, int size,
                     int64_t pts, int stuffing = 2);

// Appends the payload as PES packets of at most 65535 bytes each (the PES length field's
// limit); the first carries the time stamp.
void AppendPes(std::vector<uint8_t>& out, int stream_id, const std::vector<uint8_t>& payload,
               int64_t pts);

// One camera pack: pack header, system header when key, the video frame (0xE0), then the
// audio bytes (0xC0) when there are any.
std::vector<uint8_t> MakeCameraPack(const std::vector<uint8_t>& frame, bool key, int64_t pts,
                                    const std::vector<uint8_t>& audio);

}  // namespace qvtest
