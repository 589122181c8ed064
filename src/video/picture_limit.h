// The largest decoded picture an object accepts. One camera whose parameter sets claim a
// huge picture must not make the process allocate gigabytes: libavcodec refuses such
// pictures itself once told the limit, and the library checks the sizes it records.
#pragma once

#include <cstdint>

#include "base/decoder_modes.h"
#include "base/ffmpeg_deleters.h"

namespace qv {

// The bound handed to libavcodec for a limit. It checks the area of its buffers, whose rows
// it pads to its stride alignment, so it gets room for that padding; the exact limit is
// checked on every decoded picture.
int64_t CodecPixelBound(int64_t max_pixels);

// The picture area (width x height, the largest one) one compressed frame states, read by
// libavcodec's parser for the codec, with the stream's extradata (MP4-style streams keep
// their parameter sets there); 0 when it states none. Allocates nothing large.
int64_t StatedPictureArea(int codec_id, const uint8_t* extradata, int extradata_size, const uint8_t* data,
                          int length);

}  // namespace qv
