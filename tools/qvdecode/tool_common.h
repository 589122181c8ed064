// Shared pieces of the qvdecode subcommands: name tables, argument parsing, progress
// line and summary, exit codes.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "QVDecoder.h"
#include "image_writer.h"

struct AVFormatContext;

namespace qvtool {

// Exit codes of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;      // the work itself failed (decoder refused, nothing decoded)
constexpr int kExitUsage = 2;       // bad arguments
constexpr int kExitInput = 3;       // input file missing, unreadable or not understood
constexpr int kExitOutput = 4;      // an output file could not be written
constexpr int kExitStopped = 130;   // Ctrl-C or SIGTERM ended the work early (what was done is kept)

struct CodecName {
    const char* name;
    int interface_id;   // the library's codec number
    int ffmpeg_id;      // AVCodecID, for the frame parser only
    bool audio;
    // Codecs whose frames libavcodec's parsers cannot cut out of a byte stream (no start
    // codes, or no parser: VP8, VP9, AV1, FLV1, WMV1/2): push reads them as the packets of
    // a container (IVF, WebM, mp4, flv, asf) instead.
    bool packets = false;
};

// Looks a codec up by its short name ("h264", "g722", ...); null when unknown.
const CodecName* FindCodec(const std::string& name);
std::string CodecNames(bool audio);
const char* InterfaceCodecName(int interface_id);  // "?" when not in the table

// Pixel formats by name, in the interface numbering; PIX_FMT_NONE when unknown.
PixelFormat FindPixelFormat(const std::string& name);
std::string PixelFormatNames();
const char* PixelFormatName(int interface_format);

// Parses "WxH" with both numbers positive; false otherwise.
bool ParseSize(const std::string& text, int* width, int* height);
// True when the library takes an output of this size under the limit max_pixels (0: its
// default); otherwise prints why (a usage error) and returns false.
bool CheckOutputSize(int width, int height, int64_t max_pixels);

// Prints "qvdecode: error: ..." on stderr (and {"error": ..., "exit_code": ...} on stdout with
// --json) and returns code.
int Fail(int code, const std::string& message);
// The same line on stderr only (the JSON object carries the error itself).
void PrintError(const std::string& message);

// --json: results and errors as one JSON object on stdout.
void SetJsonOutput(bool json);
bool JsonOutput();
std::string JsonString(const std::string& s);
// A JSON number: integers exactly as integers, other values to six decimals (microseconds of
// a time in seconds) without trailing zeros; null for infinities and NaN.
std::string JsonNumber(double value);

// One flat JSON object, written in the order of the calls.
class JsonObject {
public:
    void Text(const std::string& key, const std::string& value);
    void Number(const std::string& key, double value);
    void Add(const std::string& key, const std::string& raw_value);  // a value already in JSON
    void Print() const;

private:
    std::string text_;
};

// "cannot open 'path': <result> (FFmpeg: <why>)": why this decoder's open failed as the library
// tells it (FFmpeg's reason, "Server returned 404 Not Found"), else the last error FFmpeg logged.
std::string OpenFailure(const std::string& path, int result, QVDecoder& decoder);
// " (FFmpeg: <the last error line it logged in this thread>)", or nothing.
std::string FFmpegReason();
// Forgets that line, before a call whose own reason is wanted.
void ClearFFmpegReason();

// Describes a library result code in words.
std::string ResultText(int code);

// True when the file can be opened for reading; otherwise prints why and returns false.
bool CheckReadable(const std::string& path);
int64_t FileSize(const std::string& path);

// Opens a media file with libavformat for what the tool reads itself, and reads its streams:
// 0 with *ctx set (close it with avformat_close_input), or FFmpeg's error. Reading a network
// source gives up after the library's default timeout (10 s) rather than waiting for ever.
int OpenMediaInput(const std::string& path, AVFormatContext** ctx);

// Installs a log callback that shows the library's own messages (and FFmpeg's with
// verbose) on stderr.
void InstallLog(QVDecoder& decoder, bool verbose);
// From now on the library's own messages are not shown: the tool is ending its objects' calls
// on purpose (QVInterrupt), and "timed out" would only alarm. Any thread may call it.
void QuietLibraryLog();

// A progress line on stderr, redrawn a few times a second, only when stderr is a terminal.
class Progress {
public:
    explicit Progress(const char* what);
    // fraction: 0..1 of the work, or negative when unknown; frames: units done so far.
    void Update(double fraction, int64_t frames);
    void Finish();
    double Seconds() const;

private:
    const char* what_;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

// Writes the picture bytes of the decoder's current frame to a raw file and PNG, JPEG or BMP
// snapshots every n pictures; shared by decode and push.
class PictureSink {
public:
    // output_format: the pixel format the pictures were asked in, PIX_FMT_NONE for the
    // decoder's own.
    PictureSink(const std::string& snapshot_dir, int every, const std::string& raw_path,
                SnapshotFormat format = SnapshotFormat::kPng, PixelFormat output_format = PIX_FMT_NONE);
    bool Open();  // creates the directory and the raw file; prints errors
    // Handles one delivered picture; false on a write failure (already printed).
    bool Take(QVDecoder& decoder, int64_t index);
    // Snapshots turned upright as the picture's display rotation says (the default).
    void set_autorotate(bool autorotate) { autorotate_ = autorotate; }
    int snapshots() const { return snapshots_; }
    int64_t raw_bytes() const { return raw_bytes_; }
    const std::string& first_snapshot() const { return first_snapshot_; }
    ~PictureSink();

private:
    bool SaveSnapshot(QVDecoder& decoder, const std::string& path);

    std::string dir_;
    int every_;
    SnapshotFormat format_;
    PixelFormat output_format_;
    std::string raw_path_;
    std::FILE* raw_ = nullptr;
    int snapshots_ = 0;
    int64_t raw_bytes_ = 0;
    bool raw_created_ = false;  // the raw file did not exist before this run
    std::string first_snapshot_;
    bool autorotate_ = true;
};

}  // namespace qvtool
