// Muxes encoded video packets into an MPEG program stream in memory with libavformat.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media_factory.h"

namespace qvtest {

// Muxes the video (and, when with_audio, one second of MP2 tone) with the named libavformat
// muxer ("vob" writes MPEG-2 packs, "mpeg" MPEG-1 packs) and returns the stream's bytes.
std::vector<uint8_t> MuxProgramStream(const EncodedVideo& video, const std::string& muxer, bool with_audio);

// Cuts a program stream before each pack start code 00 00 01 BA.
std::vector<std::vector<uint8_t>> CutAtPacks(const std::vector<uint8_t>& stream);

}  // namespace qvtest
