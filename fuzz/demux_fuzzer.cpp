// The program-stream pack and PES parser on arbitrary bytes.
#include <vector>

#include "bitstream/program_stream.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvfuzz::ExactCopy in(data, size);
    // A small buffer as well as the real one, so that the capacity limit is reached often.
    static std::vector<uint8_t> storage(kDemuxBufferCapacity);
    for (int capacity : {kDemuxBufferCapacity, 4096}) {
        std::vector<uint8_t> small;
        uint8_t* target = storage.data();
        if (capacity != kDemuxBufferCapacity) {
            small.resize(static_cast<size_t>(capacity));
            target = small.data();
        }
        _demux_buffer buffer{target, 0, capacity};
        ParsePackHeader(in.bytes.get(), in.length, &buffer);
        if (buffer.length < 0 || buffer.length > capacity) __builtin_trap();
    }
    return 0;
}
