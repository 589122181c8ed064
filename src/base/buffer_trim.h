// When a reused byte buffer gives memory back. Frame sizes swing (a key frame is many
// times larger than the frames after it), so a buffer is made smaller only when a whole
// window of uses in a row needed less than a quarter of what it holds: one huge input then
// keeps its memory for one window, and sizes that vary from frame to frame never make the
// buffer reallocate back and forth.
#pragma once

#include <cstddef>

namespace qv {

class BufferTrim {
public:
    static constexpr int kWindow = 64;

    // Notes a use needing `needed` bytes of a buffer holding `held`. Returns the size to make
    // the buffer again with (at least `needed`), or 0 to keep it as it is.
    size_t Use(size_t needed, size_t held) {
        if (needed >= held / 4) {
            small_uses_ = 0;
            small_peak_ = 0;
            return 0;
        }
        if (needed > small_peak_) small_peak_ = needed;
        if (++small_uses_ < kWindow) return 0;
        const size_t smaller = small_peak_ + small_peak_ / 4;
        small_uses_ = 0;
        small_peak_ = 0;
        return smaller > 0 ? smaller : 1;
    }

private:
    size_t small_peak_ = 0;  // the largest need of the uses in a row that needed little
    int small_uses_ = 0;
};

}  // namespace qv
