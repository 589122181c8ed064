// Makes real encoded media in the test process with FFmpeg's encoders: deterministic
// synthetic pictures, no files to keep.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

struct EncodedPacket {
    std::vector<uint8_t> data;
    bool key = false;
    int64_t pts = 0;
    int64_t dts = 0;
};

struct EncodedVideo {
    std::string encoder;
    int codec_id = 0;  // FFmpeg AVCodecID
    int width = 0;
    int height = 0;
    int pix_fmt = 0;   // FFmpeg AVPixelFormat the encoder was fed
    int fps = 25;
    std::vector<uint8_t> extradata;
    std::vector<EncodedPacket> packets;
};

struct VideoOptions {
    int width = 352;
    int height = 288;
    int frames = 10;
    int fps = 25;
    int gop = 12;                // key frame interval
    int b_frames = 0;
    bool global_header = false;  // parameter sets in extradata instead of in-band (mp4 style)
    int pix_fmt = -1;            // -1: the encoder's first supported format
    std::string x264_params;     // extra libx264 or libx265 options, e.g. "slices=2"
    int bit_rate = 400000;
    int seed = 0;                // varies the picture content
    int colorspace = -1;         // AVColorSpace the stream is tagged with, -1: untagged
    int color_range = -1;        // AVColorRange, -1: the encoder's default
    int sar_num = 0;             // sample aspect ratio stated in the stream (0: none)
    int sar_den = 1;
};

// Encodes options.frames synthetic pictures with the named FFmpeg encoder
// ("libx264", "libx265", "libvpx-vp9", "libaom-av1", "mpeg4", "mpeg2video", "mjpeg", "h263",
// "flv", "wmv1", "wmv2", ...),
// draining the encoder at the end. Fails the current test on error.
EncodedVideo EncodeVideo(const std::string& encoder, const VideoOptions& options = {});

// Fills a synthetic picture (moving gradients and a box) of the given FFmpeg format.
void FillSyntheticPicture(uint8_t* const data[4], const int linesize[4], int format, int width,
                          int height, int index, int seed);

// A decoded picture laid out contiguously (planes back to back, no padding).
struct Picture {
    int width = 0;
    int height = 0;
    int format = -1;
    bool key = false;
    bool damaged = false;  // the decoder reported errors in it (error flags or corrupt)
    int colorspace = 2;   // AVColorSpace, unspecified by default
    int color_range = 0;  // AVColorRange
    int64_t time_us = INT64_MIN;  // files: libavcodec's best-effort time, µs truncated toward zero
    int type = 0;                 // files: AVPictureType
    std::vector<uint8_t> bytes;
};

// Decodes the packets with libavcodec, one send/receive per packet like the library's
// stream mode (drain = also flush the decoder at the end), single-threaded.
std::vector<Picture> DecodeReference(int codec_id, const std::vector<EncodedPacket>& packets,
                                     const std::vector<uint8_t>& extradata = {}, bool drain = false);

// Converts a contiguous picture with sws_scale (flags: SWS_BILINEAR, SWS_BICUBIC, ...), YUV
// to RGB with the picture's own matrix and range (BT.601 limited when untagged).
std::vector<uint8_t> ScaleReference(const Picture& source, int width, int height, int format,
                                    int flags);

// Converts a contiguous 4:2:0 picture (yuv420p, yuvj420p, nv12, nv21) to packed RGB (BGR24,
// RGB24, BGRA, RGBA, ARGB, ABGR) with its BT.601, BT.709 or BT.2020 matrix and range in double
// precision, each chroma sample serving its 2x2 pixels: the matrix itself, free of any
// converter's rounding.
std::vector<uint8_t> ExactRgbReference(const Picture& source, int format);

// Mean absolute difference per byte; 255 when the sizes differ.
double MeanAbsDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// Concatenates all packets (an elementary stream).
std::vector<uint8_t> Concatenate(const std::vector<EncodedPacket>& packets);

}  // namespace qvtest
