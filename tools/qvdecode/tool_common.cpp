// Shared pieces of the qvdecode subcommands.
#include "tool_common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include "live_stats.h"  // PrintableName
#include "stop_signal.h"

namespace qvtool {
namespace {

const CodecName kCodecs[] = {
    {"h264", CODEC_ID_H264, AV_CODEC_ID_H264, false},
    {"mpeg4", CODEC_ID_MPEG4, AV_CODEC_ID_MPEG4, false},
    {"mpeg2", CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG2VIDEO, false},
    {"mpeg1", CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG1VIDEO, false},
    {"mjpeg", CODEC_ID_MJPEG, AV_CODEC_ID_MJPEG, false},
    {"h263", CODEC_ID_H263, AV_CODEC_ID_H263, false},
    {"flv1", CODEC_ID_FLV1, AV_CODEC_ID_FLV1, false, true},
    {"wmv1", CODEC_ID_WMV1, AV_CODEC_ID_WMV1, false, true},
    {"wmv2", CODEC_ID_WMV2, AV_CODEC_ID_WMV2, false, true},
    {"vp8", CODEC_ID_VP8, AV_CODEC_ID_VP8, false, true},
    {"hevc", CODEC_ID_QV_HEVC, AV_CODEC_ID_HEVC, false},
    {"vp9", CODEC_ID_QV_VP9, AV_CODEC_ID_VP9, false, true},
    {"av1", CODEC_ID_QV_AV1, AV_CODEC_ID_AV1, false, true},
    {"g722", CODEC_ID_QV_G722, AV_CODEC_ID_NONE, true},
    {"g7221", CODEC_ID_QV_G7221, AV_CODEC_ID_NONE, true},
    {"ffg722", CODEC_ID_QV_FFMPEG_G722, AV_CODEC_ID_ADPCM_G722, true},
    {"aac", CODEC_ID_AAC, AV_CODEC_ID_AAC, true},
    {"mp3", CODEC_ID_MP3, AV_CODEC_ID_MP3, true},
    {"mp2", CODEC_ID_MP2, AV_CODEC_ID_MP2, true},
    {"ac3", CODEC_ID_AC3, AV_CODEC_ID_AC3, true},
    {"pcm_alaw", CODEC_ID_PCM_ALAW, AV_CODEC_ID_PCM_ALAW, true},
    {"pcm_mulaw", CODEC_ID_PCM_MULAW, AV_CODEC_ID_PCM_MULAW, true},
    {"pcm_s16le", CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_S16LE, true},
};

struct FormatName {
    const char* name;
    PixelFormat format;
};

const FormatName kFormats[] = {
    {"yuv420p", PIX_FMT_YUV420P}, {"yuyv422", PIX_FMT_YUYV422}, {"rgb24", PIX_FMT_RGB24},
    {"bgr24", PIX_FMT_BGR24},     {"yuv422p", PIX_FMT_YUV422P}, {"yuv444p", PIX_FMT_YUV444P},
    {"yuv410p", PIX_FMT_YUV410P}, {"yuv411p", PIX_FMT_YUV411P}, {"gray", PIX_FMT_GRAY8},
    {"yuvj420p", PIX_FMT_YUVJ420P}, {"uyvy422", PIX_FMT_UYVY422}, {"nv12", PIX_FMT_NV12},
    {"nv21", PIX_FMT_NV21},       {"argb", PIX_FMT_ARGB},       {"rgba", PIX_FMT_RGBA},
    {"abgr", PIX_FMT_ABGR},       {"bgra", PIX_FMT_BGRA},       {"yuvj422p", PIX_FMT_YUVJ422P},
    {"yuvj444p", PIX_FMT_YUVJ444P},
    {"yuv420p10le", PIX_FMT_QV_YUV420P10LE}, {"yuv422p10le", PIX_FMT_QV_YUV422P10LE},
    {"yuv444p10le", PIX_FMT_QV_YUV444P10LE}, {"yuv420p12le", PIX_FMT_QV_YUV420P12LE},
    {"yuv422p12le", PIX_FMT_QV_YUV422P12LE}, {"yuv444p12le", PIX_FMT_QV_YUV444P12LE},
    {"gray10le", PIX_FMT_QV_GRAY10LE},       {"gray12le", PIX_FMT_QV_GRAY12LE},
    {"gbrp10le", PIX_FMT_QV_GBRP10LE},       {"gbrp12le", PIX_FMT_QV_GBRP12LE},
};

bool g_verbose = false;
bool g_json = false;
// The last error line FFmpeg logged in this thread: the wall's cameras each open and read in a
// thread of their own, and each must tell its own reason (and not race on one string).
thread_local std::string g_ffmpeg_error;
std::atomic<bool> g_library_quiet{false};

void LogToStderr(void* context, int level, const char* text, va_list args) {
    if (!text) return;
    if (!context && level % 8 != 0) {
        // The library's own messages: no context, and levels between FFmpeg's (15, 31).
        if (!g_library_quiet) std::fprintf(stderr, "qvdecode: library: %s\n", text);
        return;
    }
    if (level <= AV_LOG_ERROR) {
        // Kept to say why a file did not open ("moov atom not found").
        char line[512];
        va_list copy;
        va_copy(copy, args);
        std::vsnprintf(line, sizeof line, text, copy);
        va_end(copy);
        std::string kept(line);
        while (!kept.empty() && (kept.back() == '\n' || kept.back() == '.')) kept.pop_back();
        if (!kept.empty()) g_ffmpeg_error = kept;
    }
    if (g_verbose && level <= AV_LOG_WARNING) std::vfprintf(stderr, text, args);
}

}  // namespace

const CodecName* FindCodec(const std::string& name) {
    for (const CodecName& c : kCodecs) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

std::string CodecNames(bool audio) {
    std::string names;
    for (const CodecName& c : kCodecs) {
        if (c.audio != audio) continue;
        if (!names.empty()) names += ", ";
        names += c.name;
    }
    return names;
}

const char* InterfaceCodecName(int interface_id) {
    for (const CodecName& c : kCodecs) {
        if (c.interface_id == interface_id) return c.name;
    }
    return "?";
}

PixelFormat FindPixelFormat(const std::string& name) {
    for (const FormatName& f : kFormats) {
        if (name == f.name) return f.format;
    }
    return PIX_FMT_NONE;
}

std::string PixelFormatNames() {
    std::string names;
    for (const FormatName& f : kFormats) {
        if (!names.empty()) names += ", ";
        names += f.name;
    }
    return names;
}

const char* PixelFormatName(int interface_format) {
    for (const FormatName& f : kFormats) {
        if (f.format == interface_format) return f.name;
    }
    return "?";
}

bool ParseSize(const std::string& text, int* width, int* height) {
    long long w = 0, h = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%lldx%lld%c", &w, &h, &extra) != 2) return false;
    if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX) return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

bool CheckOutputSize(int width, int height, int64_t max_pixels) {
    // The library refuses a larger output and would go on at the decoded size: say so now.
    QVDecoder limits;
    limits.QVDecoderSetMaxPixels(max_pixels);
    const int64_t limit = limits.QVGetMaxPixels();
    if (static_cast<int64_t>(width) * height <= limit) return true;
    Fail(kExitUsage, "output size " + std::to_string(width) + "x" + std::to_string(height) + " (" +
                         std::to_string(static_cast<int64_t>(width) * height) + " pixels) is over the picture limit of " +
                         std::to_string(limit) + " pixels" + (max_pixels > 0 ? "" : " (the default, 8192x4320)"));
    return false;
}

// Every error and JSON text passes the library's masking: no message quotes a password, whatever
// name or FFmpeg line it was made of.
void PrintError(const std::string& message) {
    std::fprintf(stderr, "qvdecode: error: %s\n", PrintableName(message).c_str());
}

int Fail(int code, const std::string& message) {
    PrintError(message);
    if (g_json) std::printf("{\"error\": %s, \"exit_code\": %d}\n", JsonString(PrintableName(message)).c_str(), code);
    return code;
}

void SetJsonOutput(bool json) { g_json = json; }
bool JsonOutput() { return g_json; }

void QuietLibraryLog() { g_library_quiet = true; }

namespace {
int64_t g_open_deadline = 0;  // OpenMediaInput's, on av_gettime_relative's clock
// A stop (Ctrl-C) ends the tool's own reading too.
int OpenExpired(void*) { return av_gettime_relative() > g_open_deadline || StopRequested(); }
}  // namespace

int OpenMediaInput(const std::string& path, AVFormatContext** ctx) {
    *ctx = avformat_alloc_context();
    if (!*ctx) return AVERROR(ENOMEM);
    g_open_deadline = av_gettime_relative() + 10 * 1000000LL;
    (*ctx)->interrupt_callback = AVIOInterruptCB{&OpenExpired, nullptr};
    int status = avformat_open_input(ctx, path.c_str(), nullptr, nullptr);  // frees *ctx on failure
    if (status == 0) {
        status = avformat_find_stream_info(*ctx, nullptr);
        if (status < 0) {
            avformat_close_input(ctx);
        } else {
            status = 0;
            (*ctx)->interrupt_callback = AVIOInterruptCB{};
        }
    }
    // The deadline, not the user, ended it.
    return status == AVERROR_EXIT ? AVERROR(ETIMEDOUT) : status;
}

std::string FFmpegReason() { return g_ffmpeg_error.empty() ? "" : " (FFmpeg: " + g_ffmpeg_error + ")"; }
void ClearFFmpegReason() { g_ffmpeg_error.clear(); }

std::string OpenFailure(const std::string& path, int result, QVDecoder& decoder) {
    std::string why = decoder.QVGetOpenError();
    while (!why.empty() && why.back() == '.') why.pop_back();
    // The library's own level-15 messages name their method ("QVOpen: ...").
    if (!why.empty()) why = (why.rfind("QV", 0) == 0 ? " (" : " (FFmpeg: ") + why + ")";
    return "cannot open '" + path + "': " + ResultText(result) + (why.empty() ? FFmpegReason() : why);
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void JsonObject::Add(const std::string& key, const std::string& raw_value) {
    text_ += (text_.empty() ? "{" : ", ") + JsonString(key) + ": " + raw_value;
}
void JsonObject::Text(const std::string& key, const std::string& value) {
    Add(key, JsonString(PrintableName(value)));
}
void JsonObject::Number(const std::string& key, double value) { Add(key, JsonNumber(value)); }

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[64];
    // Counts and byte sizes whole (1125928, never 1.12593e+06); times and rates to the
    // microsecond, without trailing zeros.
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) {
        std::snprintf(buf, sizeof buf, "%.0f", value);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.6f", value);
    std::string text(buf);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}
void JsonObject::Print() const { std::printf("%s}\n", text_.empty() ? "{" : text_.c_str()); }

std::string ResultText(int code) {
    switch (code) {
        case QV_OK: return "success";
        case QV_FAILED: return "failed (-1)";
        case QV_ERR_OPEN_FILE: return "cannot open the file (-10001)";
        case QV_ERR_NO_PICTURE: return "no picture (-10002)";
        case QV_ERR_END_OF_FILE: return "end of file (-10003)";
        case QV_ERR_BAD_DATA: return "unusable data (-10005)";
        case QV_ERR_NO_MEMORY: return "out of memory (-10006)";
        case QV_ERR_NO_DECODER: return "no decoder for the codec (-10007)";
        case QV_ERR_NOT_OPEN: return "decoder not open (-10008)";
        case QV_ERR_TIMEOUT: return "timed out (-10010)";
        case QV_ERR_NETWORK: return "network error (-10011)";
        case QV_ERR_AUDIO_OPEN: return "audio decoder did not open (-10100)";
        default: return "error " + std::to_string(code);
    }
}

bool CheckReadable(const std::string& path) {
    // pipe:N names a file descriptor and scheme://... a network source: the open tells
    // whether it reads.
    if (path.rfind("pipe:", 0) == 0 || path.find("://") != std::string::npos) return true;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        Fail(kExitInput, "cannot read '" + path + "': " + std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        Fail(kExitInput, "'" + path + "' is a directory, not a media file");
        return false;
    }
    // A FIFO is not opened here: an open and close of its reading end would take its writer
    // as a reader and leave it writing to nobody.
    if (!S_ISREG(st.st_mode)) {
        if (access(path.c_str(), R_OK) == 0) return true;
        Fail(kExitInput, "cannot read '" + path + "': " + std::strerror(errno));
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        Fail(kExitInput, "cannot read '" + path + "': " + std::strerror(errno));
        return false;
    }
    std::fclose(f);
    return true;
}

int64_t FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

void InstallLog(QVDecoder& decoder, bool verbose) {
    g_verbose = verbose;
    decoder.QVDecoderRegisterLog(LogToStderr, verbose ? AV_LOG_WARNING : AV_LOG_ERROR);
}

Progress::Progress(const char* what)
    : what_(what), enabled_(isatty(STDERR_FILENO) == 1), start_(std::chrono::steady_clock::now()),
      last_(start_) {}

void Progress::Update(double fraction, int64_t frames) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    drawn_ = true;
    const double seconds = Seconds();
    const double speed = seconds > 0 ? frames / seconds : 0.0;
    if (fraction >= 0) {
        std::fprintf(stderr, "\r%s: %3d%%  %lld frames  %.1f frames/s   ", what_,
                     static_cast<int>(fraction * 100.0 + 0.5), static_cast<long long>(frames),
                     speed);
    } else {
        std::fprintf(stderr, "\r%s: %lld frames  %.1f frames/s   ", what_,
                     static_cast<long long>(frames), speed);
    }
    std::fflush(stderr);
}

void Progress::Finish() {
    if (enabled_ && drawn_) std::fprintf(stderr, "\r%*s\r", 60, "");
    drawn_ = false;
}

double Progress::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

PictureSink::PictureSink(const std::string& snapshot_dir, int every, const std::string& raw_path,
                         SnapshotFormat format, PixelFormat output_format)
    : dir_(snapshot_dir), every_(every > 0 ? every : 1), format_(format), output_format_(output_format),
      raw_path_(raw_path) {}

PictureSink::~PictureSink() {
    if (!raw_) return;
    std::fclose(raw_);
    // A run that delivered nothing (refused input, a decoder that did not open) leaves no
    // empty file behind; only a regular file this run made is removed, never a file that was
    // there before or a device (a root run given /dev/full must not delete it).
    std::error_code ec;
    if (raw_bytes_ == 0 && raw_created_ && std::filesystem::is_regular_file(raw_path_, ec)) {
        std::filesystem::remove(raw_path_, ec);
    }
}

bool PictureSink::Open() {
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dir_, ec);
        if (ec || !std::filesystem::is_directory(dir_)) {
            Fail(kExitOutput, "cannot create the snapshot folder '" + dir_ + "'");
            return false;
        }
    }
    if (!raw_path_.empty()) {
        std::error_code ec;
        raw_created_ = !std::filesystem::exists(std::filesystem::symlink_status(raw_path_, ec));
        raw_ = std::fopen(raw_path_.c_str(), "wb");
        if (!raw_) {
            Fail(kExitOutput, "cannot write '" + raw_path_ + "': " + std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool PictureSink::Take(QVDecoder& decoder, int64_t index) {
    if (raw_) {
        const unsigned char* picture = decoder.QVGetVideoFrame();
        const int size = decoder.QVGetVideoFrameSize();
        if (picture && size > 0) {
            if (std::fwrite(picture, 1, size, raw_) != static_cast<size_t>(size)) {
                Fail(kExitOutput, "writing '" + raw_path_ + "' failed");
                return false;
            }
            raw_bytes_ += size;
        }
    }
    if (!dir_.empty() && index % every_ == 0) {
        char name[64];
        std::snprintf(name, sizeof(name), "/snapshot-%06lld.%s", static_cast<long long>(index),
                      SnapshotExtension(format_));
        const std::string path = dir_ + name;
        if (!SaveSnapshot(decoder, path)) return false;
        if (snapshots_ == 0) first_snapshot_ = path;
        ++snapshots_;
    }
    return true;
}

bool PictureSink::SaveSnapshot(QVDecoder& decoder, const std::string& path) {
    const int rotation = autorotate_ ? decoder.QVGetPictureRotation() : 0;
    if (format_ == SnapshotFormat::kBmp && rotation == 0) {
        if (decoder.QVSaveOutputImage(path.c_str()) == 0) return true;
        Fail(kExitOutput, "cannot save the snapshot '" + path + "'");
        return false;
    }
    // The interface tells the delivered size but not its pixel format: that is the one asked
    // for, else the decoder's own.
    PixelFormat format = output_format_;
    if (format == PIX_FMT_NONE) {
        _video_param param{};
        decoder.QVGetParam(param);
        format = static_cast<PixelFormat>(param.pix_fmt);
    }
    // The tool's pixel-format names are FFmpeg's own.
    const AVPixelFormat ffmpeg_format = av_get_pix_fmt(PixelFormatName(format));
    if (ffmpeg_format == AV_PIX_FMT_NONE) {
        // The library's BMP snapshot still takes it, as decoded.
        if (format_ == SnapshotFormat::kBmp && decoder.QVSaveOutputImage(path.c_str()) == 0) return true;
        Fail(kExitOutput, "pictures in pixel format " + std::to_string(format) + " can only be saved as "
                          "BMP snapshots (--snapshot-format bmp)");
        return false;
    }
    int width = 0, height = 0;
    decoder.QVGetOutputResolution(width, height);
    const std::string error = WriteEncodedImage(path, format_, decoder.QVGetVideoFrame(),
                                                decoder.QVGetVideoFrameSize(), width, height, ffmpeg_format,
                                                decoder.QVGetPictureColour(), rotation);
    if (error.empty()) return true;
    Fail(kExitOutput, "cannot save the snapshot '" + path + "': " + error);
    return false;
}

}  // namespace qvtool
