// The byte stages a pushed frame may pass before decoding: H.264 repacking into nal_buffer
// and program-stream demultiplexing into demux_buffer. Each output then stands for the frame.
#pragma once

#include <cstdint>

#include "base/buffer_trim.h"

struct _demux_buffer;

namespace qv {

class RepackStage {
public:
    RepackStage() = default;
    ~RepackStage() { Release(); }
    RepackStage(const RepackStage&) = delete;
    RepackStage& operator=(const RepackStage&) = delete;

    // Copies the frame's accepted NAL units into nal_buffer; false when the frame is refused.
    bool FindH264NalUnits(const uint8_t* data, int length);
    const uint8_t* nal_buffer() const { return nal_buffer_; }
    int nal_buffer_length() const { return nal_buffer_length_; }
    int nal_buffer_capacity() const { return nal_buffer_capacity_; }
    void Release();

private:
    uint8_t* nal_buffer_ = nullptr;
    int nal_buffer_capacity_ = 0;
    int nal_buffer_length_ = 0;
    BufferTrim trim_;
};

class DemuxStage {
public:
    DemuxStage() = default;
    ~DemuxStage() { Release(); }
    DemuxStage(const DemuxStage&) = delete;
    DemuxStage& operator=(const DemuxStage&) = delete;

    // Makes demux_buffer unless it exists; false when out of memory. Its bytes follow the
    // packs: a pack's video never outgrows the pack, and never kDemuxBufferCapacity.
    bool AllocateDemuxBuffer();
    // Gathers the video payload of one pack into demux_buffer; false when the pack is refused.
    bool Demultiplex(const uint8_t* data, int length);
    const _demux_buffer* demux_buffer() const { return demux_buffer_; }
    void Release();

private:
    // Makes room for the video of a pack of `length` bytes.
    bool Reserve(int length);

    _demux_buffer* demux_buffer_ = nullptr;
    BufferTrim trim_;
};

}  // namespace qv
