// Media files made in the test process: the media factory's encoded pictures (and tones
// encoded here) written with FFmpeg's muxers, plus libavformat/libavcodec readings of
// those files to compare the decoder with.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/ffmpeg.h"
#include "media_factory.h"

namespace qvtest {

struct VideoTrack {
    AVCodecID codec = AV_CODEC_ID_H264;
    int width = 176;
    int height = 144;
    int fps = 25;
    int fps_den = 1;                // frames come fps_den/fps seconds apart (30000/1001: NTSC)
    int gop = 10;
    int max_b_frames = 0;
    int slices = 0;                 // H.264: units per picture (0: encoder default)
    int seed = 0;                   // varies the synthetic picture
    int resize_at = -1;             // from this frame on, pictures have the size below
    int resize_width = 0;
    int resize_height = 0;
    int start_frames = 0;           // the first picture's time, in frame periods
    std::string encoder_params;     // extra libx264/libx265 options, e.g. "open-gop=1"
    AVRational sample_aspect{0, 1}; // stated by the stream and the container when set
};

enum class ExtraStream { kNone, kSubtitle, kData };

struct MediaFile {
    std::string muxer = "mp4";
    std::vector<VideoTrack> video;  // zero, one or more video streams
    AVCodecID audio = AV_CODEC_ID_NONE;
    int audio_rate = 44100;
    int audio_channels = 1;
    ExtraStream extra = ExtraStream::kNone;
    int frames = 25;                // video frames per track (the length in frame periods)
    std::map<std::string, std::string> muxer_options;
};

// Writes the file; returns an empty string on success, else what failed.
std::string WriteMediaFile(const std::string& path, const MediaFile& media);

// A fresh directory under the system temp dir, removed with all its files on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const;

private:
    std::string dir_;
};

// Lays a decoded frame out contiguously (planes one after the other, alignment 1).
Picture LayOut(const AVFrame* frame);

// libavcodec's own single-threaded decode of the file's last video stream, end drained;
// `skip` is its skip_frame setting.
std::vector<Picture> ReferencePictures(const std::string& path, AVDiscard skip = AVDISCARD_DEFAULT);

// Decodes an in-memory Annex B byte stream (H.264 or HEVC) with libavcodec's parser and decoder.
std::vector<Picture> DecodeAnnexB(const std::vector<uint8_t>& stream, AVCodecID codec = AV_CODEC_ID_H264);

struct PacketInfo {
    int stream = -1;
    int64_t dts = 0;
    int64_t pts = 0;
    AVRational time_base{0, 1};
    int flags = 0;
    int64_t pos = -1;
    std::vector<uint8_t> data;
};

// Every packet of the file as av_read_frame hands it out, in order.
std::vector<PacketInfo> ReadPackets(const std::string& path);

// Writes `bytes` of the file anew (corrupting or truncating test files).
bool OverwriteBytes(const std::string& path, int64_t offset, const std::vector<uint8_t>& bytes);
bool TruncateFile(const std::string& path, int64_t size);
int64_t FileSize(const std::string& path);

}  // namespace qvtest
