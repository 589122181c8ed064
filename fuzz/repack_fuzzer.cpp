// The H.264 scanner and repacker on arbitrary bytes.
#include <vector>

#include "bitstream/h264_nal.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvfuzz::ExactCopy in(data, size);
    std::vector<uint8_t> out(2 * static_cast<size_t>(in.length) + 1);
    int length = 0;
    qv::RepackH264NalUnits(in.bytes.get(), in.length, out.data(), static_cast<int>(out.size()) - 1, length);
    if (length < 0 || length > 2 * in.length) __builtin_trap();

    int offset = 0, unit = 0, p = 0;
    while (qv::FindH264NalUnit(in.bytes.get() + p, in.length - p, offset, unit)) {
        if (unit < 4 || offset + unit > in.length - p) __builtin_trap();
        p += offset + unit;
    }
    return 0;
}
