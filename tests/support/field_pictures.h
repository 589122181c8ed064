// Field-coded test material: two separately encoded H.264 streams whose pictures are the
// first and the second field of each frame, and the frame the library makes of them.
#pragma once

#include <cstdint>
#include <vector>

#include "media_factory.h"

namespace qvtest {

struct FieldStreams {
    EncodedVideo first;   // one all-intra picture per frame: the first fields
    EncodedVideo second;  // the second fields, with other content
};

// Encodes `frames` field pairs of width x height with libx264.
FieldStreams EncodeFieldPairs(int width, int height, int frames);

// Field i of both streams back to back, as a camera sends one field-coded frame.
std::vector<uint8_t> FieldPair(const FieldStreams& fields, size_t i);

// The 4:2:0 frame of twice the field height the library delivers for a field pair: the
// first field's rows on the even lines, the average of each row and the next (the last row
// repeated) on the odd lines.
// The field is a contiguous YUV420P picture of width x height.
Picture LineDoubled420(const std::vector<uint8_t>& field, int width, int height);

}  // namespace qvtest
