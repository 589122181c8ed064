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
    // input always holds the output.
    const long long wanted = 2LL * length;
    if (wanted > 0x7FFFFFFF) return false;
    const size_t smaller = trim_.Use(static_cast<size_t>(wanted), static_cast<size_t>(nal_buffer_capacity_));
    if (nal_buffer_ == nullptr || nal_buffer_capacity_ < wanted || smaller > 0) {
        const long long size = nal_buffer_capacity_ < wanted ? wanted : static_cast<long long>(smaller);
        Release();
        // One byte at least, so that an empty input still leaves a valid buffer.
        nal_buffer_ = static_cast<uint8_t*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
        if (nal_buffer_ == nullptr) return false;
        nal_buffer_capacity_ = static_cast<int>(size);
    }
    return RepackH264NalUnits(data, length, nal_buffer_, nal_buffer_capacity_, nal_buffer_length_);
}

void RepackStage::Release() {
    std::free(nal_buffer_);
    nal_buffer_ = nullptr;
    nal_buffer_capacity_ = 0;
    nal_buffer_length_ = 0;
}

namespace {
constexpr int kFirstDemuxBytes = 4096;
}  // namespace

bool DemuxStage::AllocateDemuxBuffer() {
    if (demux_buffer_) return true;
    _demux_buffer* buffer = new (std::nothrow) _demux_buffer;
    if (!buffer) return false;
    buffer->length = 0;
    buffer->capacity = kFirstDemuxBytes;
    buffer->data = static_cast<uint8_t*>(std::malloc(kFirstDemuxBytes));
    if (!buffer->data) {
        delete buffer;
        return false;
    }
    demux_buffer_ = buffer;
    return true;
}

bool DemuxStage::Reserve(int length) {
    // Room for the whole pack, up to the fixed limit: a pack's video then fits, or is cut at
    // the limit exactly as a buffer of the limit's size would cut it.
    const int wanted = length < kDemuxBufferCapacity ? (length > 0 ? length : 1) : kDemuxBufferCapacity;
    const int held = demux_buffer_->capacity;
    const size_t smaller = trim_.Use(static_cast<size_t>(wanted), static_cast<size_t>(held));
    if (held >= wanted && smaller == 0) return true;
    int size = static_cast<int>(smaller);
    if (held < wanted) {
        // Grows with some room, so that packs a little larger than the last do not reallocate.
        const long long roomy = wanted + wanted / 4LL;
        size = roomy < kDemuxBufferCapacity ? static_cast<int>(roomy) : kDemuxBufferCapacity;
    }
    auto* data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (!data) return false;
    std::free(demux_buffer_->data);
    demux_buffer_->data = data;
    demux_buffer_->capacity = size;
    demux_buffer_->length = 0;
    return true;
}

bool DemuxStage::Demultiplex(const uint8_t* data, int length) {
    if (!AllocateDemuxBuffer() || !Reserve(length)) return false;
    return ParsePackHeader(data, length, demux_buffer_) >= 0;
}

void DemuxStage::Release() {
    if (!demux_buffer_) return;
    std::free(demux_buffer_->data);
    delete demux_buffer_;
    demux_buffer_ = nullptr;
}

}  // namespace qv
