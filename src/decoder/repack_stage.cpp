// H.264 repacking stage of pushed video: the frame's accepted NAL units are copied into
// nal_buffer, which then stands for the frame.
#include <cstdlib>

#include "core/decoder_impl.h"
#include "bitstream/h264_nal.h"

bool QVDecoder::Impl::FindH264NalUnits(const uint8_t* data, int length) {
    if (data == nullptr || length < 0) length = 0;

    // Every unit spans at least four input bytes and gains one zero byte, so twice the
    // input always holds the output. The buffer only grows.
    const long long wanted = 2LL * length;
    if (nal_buffer == nullptr || nal_buffer_capacity < wanted) {
        std::free(nal_buffer);
        nal_buffer = nullptr;
        nal_buffer_capacity = 0;
        nal_buffer_length = 0;
        if (wanted > 0x7FFFFFFF) return false;
        // One byte at least, so that an empty input still leaves a valid buffer.
        nal_buffer = static_cast<uint8_t*>(std::malloc(wanted > 0 ? static_cast<size_t>(wanted) : 1));
        if (nal_buffer == nullptr) return false;
        nal_buffer_capacity = static_cast<int>(wanted);
    }
    return qv::RepackH264NalUnits(data, length, nal_buffer, nal_buffer_capacity, nal_buffer_length);
}
