#include "stream/push_stages.h"

#include <cstdlib>
#include <new>

#include "bitstream/demux_buffer.h"
#include "bitstream/h264_nal.h"
#include "bitstream/program_stream.h"

namespace qv {

bool RepackStage::FindH264NalUnits(const uint8_t* data, int length) {
    if (data == nullptr || length < 0) length = 0;
    // Every unit spans at least four input bytes and gains one zero byte, so twice the
    // input always holds the output. The buffer only grows.
    const long long wanted = 2LL * length;
    if (nal_buffer_ == nullptr || nal_buffer_capacity_ < wanted) {
        Release();
        if (wanted > 0x7FFFFFFF) return false;
        // One byte at least, so that an empty input still leaves a valid buffer.
        nal_buffer_ = static_cast<uint8_t*>(std::malloc(wanted > 0 ? static_cast<size_t>(wanted) : 1));
        if (nal_buffer_ == nullptr) return false;
        nal_buffer_capacity_ = static_cast<int>(wanted);
    }
    return RepackH264NalUnits(data, length, nal_buffer_, nal_buffer_capacity_, nal_buffer_length_);
}

void RepackStage::Release() {
    std::free(nal_buffer_);
    nal_buffer_ = nullptr;
    nal_buffer_capacity_ = 0;
    nal_buffer_length_ = 0;
}

bool DemuxStage::AllocateDemuxBuffer() {
    if (demux_buffer_) return true;
    _demux_buffer* buffer = new (std::nothrow) _demux_buffer;
    if (!buffer) return false;
    buffer->length = 0;
    buffer->capacity = kDemuxBufferCapacity;
    buffer->data = static_cast<uint8_t*>(std::malloc(kDemuxBufferCapacity));
    if (!buffer->data) {
        delete buffer;
        return false;
    }
    demux_buffer_ = buffer;
    return true;
}

bool DemuxStage::Demultiplex(const uint8_t* data, int length) {
    if (!AllocateDemuxBuffer()) return false;
    return ParsePackHeader(data, length, demux_buffer_) >= 0;
}

void DemuxStage::Release() {
    if (!demux_buffer_) return;
    std::free(demux_buffer_->data);
    delete demux_buffer_;
    demux_buffer_ = nullptr;
}

}  // namespace qv
