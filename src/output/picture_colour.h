// The colour matrix and range a decoded picture is coded in, as the converters use them.
#pragma once

struct SwsContext;

namespace qv {

enum class Matrix { kBt601, kBt709, kBt2020, kSmpte240m, kFcc };

struct PictureColour {
    Matrix matrix = Matrix::kBt601;
    bool full_range = false;
    bool operator==(const PictureColour& o) const { return matrix == o.matrix && full_range == o.full_range; }
    bool operator!=(const PictureColour& o) const { return !(*this == o); }
};

// The colour of a picture of the given FFmpeg pixel format, colour space and range
// (AVColorSpace, AVColorRange). Untagged pictures are BT.601 limited range, except the
// yuvj* formats, which are full range by definition.
PictureColour ColourOf(int format, int colorspace, int range);

// True when a conversion from `source` to `destination` (FFmpeg pixel formats) turns YUV
// into RGB, the only case where the matrix and range decide the result.
bool ConvertsYuvToRgb(int source, int destination);

// Tells a libswscale context which matrix and range its YUV source uses; false when the
// scaler refuses them.
bool ApplyColour(SwsContext* scaler, PictureColour colour);

// A libswscale context for the conversion (FFmpeg pixel formats, SWS_* flags, `threads`
// slice threads; 1 for none), or null when libswscale cannot make it. The full-range yuvj*
// formats go in as their plain twins with the range set, which is all libswscale does with
// them itself: handed a yuvj* format, it prints "deprecated pixel format used" to the
// host's stderr at every new context. The result is the same, byte for byte.
SwsContext* NewScaler(int src_width, int src_height, int src_format, int dst_width, int dst_height,
                      int dst_format, int flags, int threads);

}  // namespace qv
