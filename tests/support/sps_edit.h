// Rewrites H.264 sequence parameter sets the way some cameras and encoders write them:
// without the VUI's bitstream restriction, so that a decoder is not told the stream's
// reordering depth up front; or claiming another picture size than the slices cover, as a
// broken or hostile sender does; or allowing gaps in the frame numbers. Rewrites IDR slices
// as pictures that restart the frame numbers through reference marking.
#pragma once

#include <cstdint>
#include <vector>

#include "media_factory.h"

namespace qvtest {

// Clears bitstream_restriction_flag (and drops the fields behind it) in every SPS of an
// Annex B packet. Returns false when an SPS could not be parsed.
bool StripReorderDepth(std::vector<uint8_t>& packet);
bool StripReorderDepth(std::vector<EncodedPacket>& packets);

// Codes width x height as the picture size of every SPS of an Annex B packet and drops its
// frame cropping, so that a decoder takes exactly that size; the slices stay as they are.
// The size must be whole macroblocks (whole field macroblock pairs in height for a
// field-coded sequence). Returns false when an SPS could not be parsed or the size cannot
// be coded; the packet is then left as it was.
bool SetCodedSize(std::vector<uint8_t>& packet, int width, int height);
bool SetCodedSize(std::vector<EncodedPacket>& packets, int width, int height);

// Sets gaps_in_frame_num_value_allowed_flag in every SPS: frame numbers may then jump.
bool AllowFrameNumGaps(std::vector<EncodedPacket>& packets);

// Rewrites every IDR picture but the first as an I picture whose reference marking holds
// memory_management_control_operation 5: the pictures decode the same, but the frame
// numbers restart at 0 without an IDR. For one SPS and one PPS with one slice group, frame
// pictures; false when a slice could not be read.
bool IdrAfterFirstAsFrameNumReset(std::vector<EncodedPacket>& packets);

}  // namespace qvtest
