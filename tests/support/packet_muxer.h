// Writes already-encoded video packets into a media file with a libavformat muxer.
#pragma once

#include <string>

#include "media_factory.h"

namespace qvtest {

// The packets in the named container (mp4, matroska, mpegts, mpeg, flv, h264, ...); the
// header states width x height, and the MP4 and Matroska muxers turn Annex B extradata into
// the avcC record. False when the file cannot be written.
bool WriteEncodedVideo(const std::string& path, const char* muxer, const EncodedVideo& video, int width, int height);

}  // namespace qvtest
