// Rewrites H.264 sequence parameter sets the way some cameras and encoders write them:
// without the VUI's bitstream restriction, so that a decoder is not told the stream's
// reordering depth up front.
#pragma once

#include <cstdint>
#include <vector>

#include "media_factory.h"

namespace qvtest {

// Clears bitstream_restriction_flag (and drops the fields behind it) in every SPS of an
// Annex B packet. Returns false when an SPS could not be parsed.
bool StripReorderDepth(std::vector<uint8_t>& packet);
bool StripReorderDepth(std::vector<EncodedPacket>& packets);

}  // namespace qvtest
