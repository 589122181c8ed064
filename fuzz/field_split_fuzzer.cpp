// Cutting a field-coded frame into pieces, as the field decoder walks it.
#include "bitstream/field_split.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvfuzz::ExactCopy in(data, size);
    int offset = 0;
    int cut = qv::GetField(in.bytes.get(), in.length);
    while (cut >= 0) {
        if (cut < 3 || cut > in.length - offset - 4) __builtin_trap();
        offset += cut;
        cut = qv::GetField(in.bytes.get() + offset, in.length - offset);
    }
    return 0;
}
