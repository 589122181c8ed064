// The qvdecode subcommands; each returns the tool's exit code.
#pragma once

#include <string>
#include <vector>

namespace qvtool {

struct InfoOptions {
    std::string file;
    bool json = false;
    int video_stream = -2;  // the streams the library is to decode, as decode takes them
    int audio_stream = -2;
};
int RunInfo(const InfoOptions& o);

struct DecodeOptions {
    std::string file;
    std::string format;  // output pixel format name, empty: the decoder's own
    std::string size;    // output "WxH", empty: the decoded size
    bool high_quality = false;
    std::string snapshots;  // folder, empty: none
    std::string snapshot_format = "png";  // png, jpg or bmp
    int every = 25;
    std::string raw;  // raw picture file, empty: none
    bool verbose = false;
    int threads = 0;  // decoding threads, 0: one per core
    int64_t max_pixels = 0;  // largest picture accepted, 0: the library's default
    std::string converter = "auto";  // conversion engine: auto or swscale
    std::string start;     // decode: where to begin, seconds or hh:mm:ss from the file's start
    std::string duration;  // decode: how long, empty: to the end
    // Live sources: --duration counts wall-clock time for them.
    double timeout = -1.0;   // seconds a blocking open or read may wait, negative: the library's
    std::string transport;   // RTSP transport "tcp" or "udp", empty: the library's (tcp)
    bool reconnect = false;  // reopen a source that ended or failed, with backoff
    int video_stream = -2;   // file streams by index (as info lists them): -1 none, -2 the default
    int audio_stream = -2;
    std::string wav;         // the audio as 16-bit PCM WAV, empty: none
    bool autorotate = true;  // snapshots turned upright as the picture's display rotation says
};
int RunDecode(const DecodeOptions& o);

struct WallOptions {
    std::vector<std::string> urls;
    std::string size = "320x180";  // tile size
    int cols = 0;                  // tiles per row, 0: a square grid
    double every = 1.0;            // seconds between mosaic PNGs
    std::string out = "wall.png";
    double duration = -1.0;        // seconds on the clock, negative: until killed
    int max_latency_ms = 500;      // per camera, 0: every picture however late
    double timeout = 5.0;          // seconds an open or read may wait before a reconnect
    std::string transport;
    bool verbose = false;
    std::string http;              // "[ADDR:]PORT" to serve the wall on, empty: no server
    bool exact = false;  // decode every picture in full instead of only what a tile shows
};
int RunWall(const WallOptions& o);

struct ThumbsOptions {
    std::string file;
    std::string dir;
    std::string every = "60s";  // a thumbnail per mark, seconds or hh:mm:ss apart
    std::string size;           // "WxH", empty: the decoded size
    std::string format = "png"; // png or jpg
    std::string sheet;          // contact sheet of them all (.png or .jpg), empty: none
    bool labels = true;         // each sheet tile's time in its corner
    bool exact = false;         // the picture at each mark (accurate seeks), not the nearest key frame
    bool autorotate = true;     // thumbnails turned upright as the recording's display rotation says
    int threads = 0;
    bool verbose = false;
};
int RunThumbs(const ThumbsOptions& o);

struct PushOptions {
    DecodeOptions output;  // file, output format/size, snapshots, raw
    std::string codec;
    std::string picture_size;  // "WxH" of the pushed pictures
    bool repack = false;
    bool demux = false;
    bool fields = false;
    bool key_first = false;
    bool chunks = false;
    bool frame_per_pack = false;  // with demux: each pack holds exactly one whole frame
};
int RunPush(const PushOptions& o);

struct ExtractOptions {
    std::string file;
    std::string out;
    std::string index;  // CSV file, empty: none
    bool verbose = false;
};
int RunExtract(const ExtractOptions& o);

struct AudioOptions {
    std::string file;
    std::string out;
    std::string codec;
    int rate = 0;      // 0: the codec's usual rate, or what the stream's headers say
    int bitrate = 0;   // 0: the codec's usual bit rate
    int channels = 0;  // 0: one, or what the stream's headers say
    int chunk = 0;  // bytes per pushed frame, 0: 20 ms worth for the codec
    bool verbose = false;
};
int RunAudio(const AudioOptions& o);

}  // namespace qvtool
