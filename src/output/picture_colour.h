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

}  // namespace qv
