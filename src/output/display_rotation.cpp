#include "output/display_rotation.h"

#include <cmath>
#include <cstring>

#include "base/ffmpeg.h"

namespace qv {

int DisplayRotation(const uint8_t* matrix, size_t size) {
    int32_t values[9];
    if (!matrix || size < sizeof values) return -1;
    std::memcpy(values, matrix, sizeof values);  // side data need not be aligned for int32_t
    // FFmpeg measures the turn counterclockwise; players turn the picture back by it.
    const double counterclockwise = av_display_rotation_get(values);
    if (!std::isfinite(counterclockwise)) return -1;
    const long quarters = std::lround(-counterclockwise / 90.0) % 4;
    return static_cast<int>((quarters + 4) % 4) * 90;
}

}  // namespace qv
