// Programs of public calls on two QVDecoder objects: mode setters, stream-mode opens of
// every codec family, pushes of fuzzed bytes and of real frames from small embedded
// streams (api_streams.inc), the receive loop and flush, output and picture changes in the
// middle of a stream, snapshots, audio, file mode on a file written from the input, close,
// reopen and moves between the objects, and interrupts made while nothing waits.
//
// An input is a sequence of calls: one opcode byte (bit 7 picks the object, the rest the
// call) followed by the call's argument bytes; reads past the end give zeros. Blobs are a
// 16-bit little-endian length followed by that many bytes. fuzz/make_corpus.py writes the
// seed programs with the same encoding.
//
// After every call that reports a picture (QVDecodeVideoFrame 0, QVReceiveVideoFrame 0,
// QVDecodeFrame 0) the picture must be there: QVGetVideoFrame() non-null,
// QVGetVideoFrameSize() > 0 and its last byte readable. A host that got 0 reads it; a null
// buffer there is a crash in the host, so the target traps with the calls that led to it.
// The decoded picture must also be within the object's picture-size limit
// (QVDecoderSetMaxPixels), which the target follows through opens and moves.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "QVDecoder.h"

namespace {

struct EmbeddedStream {
    const char* name;
    CodecID codec;
    int width;
    int height;
    const unsigned char* bytes;
    const int* ends;  // end offset of each frame
    int frames;
};

#include "api_streams.inc"

constexpr int kStreamCount = static_cast<int>(sizeof(kStreams) / sizeof(kStreams[0]));
constexpr int kMaxCalls = 64;
constexpr int kMaxReceives = 8;            // pictures taken per receive loop
constexpr int kMaxFileDecodes = 32;        // QVDecodeFrame calls per file-decode step
constexpr int64_t kMaxPictureArea = 1 << 20;  // larger decoded pictures only make a run slow
constexpr int kDecodeBudget = 512;         // decode, receive and file-decode calls per input

// ---- Argument tables: valid values first, then the odd ones a host may still pass ----

const CodecID kVideoCodecs[] = {
    CODEC_ID_H264,  CODEC_ID_MPEG2VIDEO, CODEC_ID_MPEG4, CODEC_ID_QV_HEVC, CODEC_ID_MPEG1VIDEO,
    CODEC_ID_MJPEG, CODEC_ID_H263,       CODEC_ID_QV_VP9, CODEC_ID_NONE,   CODEC_ID_QV_G722,
    static_cast<CodecID>(0x7FFF0000),
};

const CodecID kAudioCodecs[] = {
    CODEC_ID_QV_G722,      CODEC_ID_QV_G7221, CODEC_ID_QV_FFMPEG_G722, CODEC_ID_PCM_MULAW,
    CODEC_ID_PCM_ALAW,     CODEC_ID_AAC,      CODEC_ID_MP2,            CODEC_ID_MP3,
    CODEC_ID_QV_OPUS,      CODEC_ID_QV_G729,  CODEC_ID_QV_G723_1,      CODEC_ID_QV_ADPCM_G726LE,
    CODEC_ID_ADPCM_G726,   CODEC_ID_PCM_S16LE, CODEC_ID_H264,          static_cast<CodecID>(-5),
};

const _audio_param kAudioParams[] = {
    {16000, 1, 64000}, {8000, 1, 64000}, {16000, 1, 24000}, {16000, 1, 32000}, {8000, 1, 32000},
    {48000, 2, 128000}, {8000, 1, 6300}, {16000, 1, 48000}, {0, 0, 0},        {-1, -3, -5},
    {44100, 9, 1},
};

struct Size {
    int width;
    int height;
};

// Decoder-side sizes (opens, QVSetPictureParam).
const Size kPictureSizes[] = {
    {64, 48}, {96, 64}, {64, 24}, {0, 0}, {176, 144}, {-4, 10}, {1, 1}, {17, 9}, {1920, 1080}, {8192, 4320},
    {40000, 40000},
};

// Output sizes: follow the picture (0), the stream's own, odd, negative and large-ish ones.
const Size kOutputSizes[] = {
    {0, 0},   {64, 48},   {32, 24},  {128, 96},     {-4, 10},        {10, -4},   {1, 1},
    {3, 5},   {0, 48},    {64, 0},   {1920, 1080},  {4097, 3},       {2, 4000},  {-1, -1},
    {65536, 65536}, {INT_MIN, INT_MIN},
};

const PixelFormat kFormats[] = {
    PIX_FMT_YUV420P, PIX_FMT_BGR24,   PIX_FMT_RGB24,    PIX_FMT_YUYV422,     PIX_FMT_GRAY8,
    PIX_FMT_RGBA,    PIX_FMT_BGRA,    PIX_FMT_NV12,     PIX_FMT_YUV422P,     PIX_FMT_YUV444P,
    PIX_FMT_UYVY422, PIX_FMT_RGB565LE, PIX_FMT_YUVJ420P, PIX_FMT_YUV420P16LE, PIX_FMT_RGB48BE,
    PIX_FMT_NONE,    PIX_FMT_PAL8,    PIX_FMT_MONOWHITE, PIX_FMT_XVMC_MPEG2_MC, PIX_FMT_Y400A,
    static_cast<PixelFormat>(1000),   static_cast<PixelFormat>(-7),
};

const int kThreadCounts[] = {1, 2, 1, 2, -1, 65};

constexpr int64_t kDefaultMaxPixels = 8192LL * 4320LL;  // the library's limit when none is set

// Picture-size limits: the embedded streams' sizes and just below them, larger ones, the
// default (0), a refused one and the largest.
const int64_t kMaxPixelLimits[] = {64 * 48,    64 * 48 - 1, 96 * 64, 64 * 24, 1 << 16,
                                   1 << 20,    0,           -1,      kDefaultMaxPixels + 1,
                                   INT64_MAX};

const int kLogLevels[] = {-8, 0, 8, 16, 24, 32};

// File name endings: FFmpeg's probe weighs them for raw streams.
const char* const kFileEndings[] = {"", ".h264", ".mp4", ".ts", ".mpg", ".hevc", ".m4v", ".g722"};

const int kRawBufferSizes[] = {1, 16, 1000, 64 * 1024};

enum Op {
    kSetParam,
    kSetEncodeMode,
    kSetStreamMode,
    kSetOutputMode,
    kSetDemux,
    kSetLatency,
    kSetThreads,
    kSetMaxPixels,
    kOpenVideo,
    kOpenAudio,
    kOpenCombined,
    kPushBytes,
    kPushFrames,
    kReceive,
    kFlush,
    kSetOutput,
    kSetOutputFormat,
    kSetOutputResolution,
    kSetPictureParam,
    kSaveCurrent,
    kSaveOutput,
    kSavePicture,
    kQuery,
    kDecodeAudio,
    kClose,
    kMoveConstruct,
    kMoveAssign,
    kRecreate,
    kFileOpen,
    kFileDecode,
    kFileRaw,
    kRegisterLog,
    kInterrupt,
    kSetFastDecode,
    kOpCount
};

// Reads the program front to back.
class Program {
public:
    Program(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t U16() {
        const uint16_t low = U8();
        return static_cast<uint16_t>(low | (U8() << 8));
    }
    // A blob of at most `max` bytes; the length field is read whole either way.
    std::pair<const uint8_t*, size_t> Blob(size_t max) {
        size_t length = U16();
        if (length > max) length = max;
        if (length > size_ - pos_) length = size_ - pos_;
        const uint8_t* start = data_ + pos_;
        pos_ += length;
        return {start, length};
    }
    template <typename T, size_t N>
    const T& Pick(const T (&table)[N]) {
        return table[U8() % N];
    }
    // A table entry, or for selector bytes from 0xF0 on two signed 16-bit values from the input.
    template <size_t N>
    Size PickSize(const Size (&table)[N]) {
        const uint8_t selector = U8();
        if (selector < 0xF0) return table[selector % N];
        const int width = static_cast<int16_t>(U16());
        return Size{width, static_cast<int16_t>(U16())};
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// The calls of the current input, printed when the invariant breaks.
class Trace {
public:
    void Clear() { text_.clear(); }
    void Add(int object, const char* format, ...) __attribute__((format(printf, 3, 4))) {
        char line[160];
        va_list args;
        va_start(args, format);
        vsnprintf(line, sizeof(line), format, args);
        va_end(args);
        text_ += "  d" + std::to_string(object) + "." + line + "\n";
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

Trace trace;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "api_fuzzer: %s\ncalls of this input:\n%s", what, trace.text().c_str());
    __builtin_trap();
}

void Touch(const unsigned char* buffer, int size) {
    volatile unsigned char first = buffer[0];
    volatile unsigned char last = buffer[size - 1];
    (void)first;
    (void)last;
}

// The invariant: a call that reported a picture leaves one behind, whole.
void CheckPicture(QVDecoder& d, const char* call) {
    unsigned char* picture = d.QVGetVideoFrame();
    const int size = d.QVGetVideoFrameSize();
    if (!picture || size <= 0) {
        char what[200];
        std::snprintf(what, sizeof(what), "%s returned 0 but QVGetVideoFrame() is %p and QVGetVideoFrameSize() %d",
                      call, static_cast<void*>(picture), size);
        Fail(what);
    }
    Touch(picture, size);  // AddressSanitizer reports a size the buffer does not hold
}

// True when the decoded picture is larger than a run should spend time on.
bool TooLarge(QVDecoder& d) {
    _video_param param{};
    d.QVGetParam(param);
    return static_cast<int64_t>(param.width) * param.height > kMaxPictureArea;
}

void SilentLog(void*, int, const char* text, va_list args) {
    // Formats the message as a host's logger would, so that a bad format or argument list
    // shows up here.
    thread_local char line[512];
    if (text) vsnprintf(line, sizeof(line), text, args);
}

// A scratch folder in memory for input files and snapshots; files are unlinked as soon as
// they have been used, the folder when the process exits.
class Scratch {
public:
    Scratch() {
        for (const char* dir : {"/dev/shm", "/tmp"}) {
            std::string pattern = std::string(dir) + "/qv_api_fuzzer_XXXXXX";
            std::vector<char> name(pattern.begin(), pattern.end());
            name.push_back('\0');
            if (mkdtemp(name.data())) {
                dir_ = name.data();
                break;
            }
        }
    }
    ~Scratch() {
        if (!dir_.empty()) rmdir(dir_.c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    bool Write(const std::string& path, const std::vector<uint8_t>& bytes) const {
        unlink(path.c_str());  // a decoder still reading the old file keeps its contents
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return false;
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(fd);
        return done == bytes.size();
    }

private:
    std::string dir_;
};

// One video elementary-stream payload in a minimal MPEG-2 program stream pack, as a camera
// that multiplexes its stream would send it.
std::vector<uint8_t> WrapInPack(const std::vector<uint8_t>& payload) {
    static const uint8_t kPackHeader[] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                                          0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
    std::vector<uint8_t> pack(kPackHeader, kPackHeader + sizeof(kPackHeader));
    size_t offset = 0;
    do {
        // PES header with one stuffing byte: no time stamps, the payload right behind it.
        const size_t piece = std::min<size_t>(payload.size() - offset, 65535 - 4);
        const size_t length = piece + 4;
        const uint8_t header[] = {0x00, 0x00, 0x01, 0xE0, static_cast<uint8_t>(length >> 8),
                                  static_cast<uint8_t>(length), 0x80, 0x00, 0x01, 0xFF};
        pack.insert(pack.end(), header, header + sizeof(header));
        pack.insert(pack.end(), payload.begin() + offset, payload.begin() + offset + piece);
        offset += piece;
    } while (offset < payload.size());
    return pack;
}

std::vector<uint8_t> Frames(const EmbeddedStream& s, int first, int count) {
    first %= s.frames;
    if (first + count > s.frames) count = s.frames - first;
    const int begin = first == 0 ? 0 : s.ends[first - 1];
    const int end = s.ends[first + count - 1];
    return std::vector<uint8_t>(s.bytes + begin, s.bytes + end);
}

// What the target knows of an object's settings, to check the picture-size limit: the limit
// set (`pending`), the one in effect since the last open (`active`), whether the object may be
// open (an open of an open object changes nothing) and field mode, whose pictures are two
// fields of half the reported height. Moves carry it with the object. Where the target cannot
// tell, it takes the larger limit, so that its guesses can hide a fault but never invent one.
struct Shadow {
    int64_t pending = kDefaultMaxPixels;
    int64_t active = kDefaultMaxPixels;
    bool open = false;
    bool field = false;
};

class Runner {
public:
    explicit Runner(const Scratch& scratch) : scratch_(scratch) {
        slots_[0].reset(new QVDecoder());
        slots_[1].reset(new QVDecoder());
    }

    void Run(Program& program) {
        for (int call = 0; call < kMaxCalls && !program.done() && !stop_; ++call) {
            const uint8_t code = program.U8();
            object_ = code >> 7;
            Step(static_cast<Op>((code & 0x7F) % kOpCount), program);
        }
    }

private:
    QVDecoder& d() { return *slots_[object_]; }
    Shadow& shadow() { return shadows_[object_]; }

    // After a picture: its decoded size is within the limit the decoder was opened with (or
    // the one set since, if larger).
    void CheckLimit(const char* call, bool file) {
        _video_param param{};
        d().QVGetParam(param);
        int64_t area = static_cast<int64_t>(param.width) * param.height;
        if (shadow().field && !file) area /= 2;
        const int64_t limit = std::max(shadow().active, shadow().pending);
        if (area > limit) {
            char what[200];
            std::snprintf(what, sizeof(what), "%s gave a %dx%d picture over the limit of %lld pixels", call, param.width,
                          param.height, static_cast<long long>(limit));
            Fail(what);
        }
        if (area > kMaxPictureArea) stop_ = true;
    }
    // A video or file open returned `result`; failed opens may or may not have closed the object.
    void Opened(int result) {
        if (result != 0) return;
        Shadow& s = shadow();
        s.active = s.open ? std::max(s.active, s.pending) : s.pending;
        s.open = true;
    }

    // Counts one decoding call against the input's budget; false once it is spent.
    bool Spend() {
        if (++decode_calls_ > kDecodeBudget) stop_ = true;
        return !stop_;
    }

    // Pushes a copy of exactly the given size, so that a read past it is reported.
    int Push(const uint8_t* bytes, size_t size, int repack) {
        if (!Spend()) return -1;
        std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
        if (size) std::memcpy(copy.get(), bytes, size);
        const int result = d().QVDecodeVideoFrame(size ? copy.get() : nullptr, static_cast<int>(size), repack);
        trace.Add(object_, "QVDecodeVideoFrame(%zu bytes, repack %d) = %d", size, repack, result);
        if (result == 0) {
            CheckPicture(d(), "QVDecodeVideoFrame");
            CheckLimit("QVDecodeVideoFrame", false);
        }
        return result;
    }

    void ReceiveLoop(int max) {
        for (int i = 0; i < max && Spend(); ++i) {
            const int result = d().QVReceiveVideoFrame();
            trace.Add(object_, "QVReceiveVideoFrame() = %d", result);
            if (result != 0) break;
            CheckPicture(d(), "QVReceiveVideoFrame");
            CheckLimit("QVReceiveVideoFrame", false);
        }
    }

    void PushFrames(Program& p) {
        const EmbeddedStream& s = kStreams[p.U8() % kStreamCount];
        int frame = p.U8();
        const int per_push = 1 + p.U8() % 4;   // frames joined into one push (two fields, a chunk)
        const int pushes = 1 + p.U8() % 8;
        const uint8_t flags = p.U8();
        const int repack = flags & 1;
        const bool pack = flags & 2;
        const bool receive = flags & 4;
        const bool split = flags & 8;           // the push cut in two at a fuzzed offset
        const bool corrupt = flags & 16;
        const uint8_t cut = p.U8();
        const uint16_t corrupt_at = p.U16();
        const uint8_t corrupt_xor = p.U8();
        trace.Add(object_, "push %d x %d frames of %s from %d, flags 0x%02x", pushes, per_push, s.name,
                  frame % s.frames, flags);
        for (int n = 0; n < pushes && !stop_; ++n, frame += per_push) {
            std::vector<uint8_t> bytes = Frames(s, frame, per_push);
            if (corrupt && !bytes.empty()) bytes[corrupt_at % bytes.size()] ^= corrupt_xor;
            if (pack) bytes = WrapInPack(bytes);
            if (split && bytes.size() > 1) {
                const size_t at = 1 + (bytes.size() - 1) * cut / 256;
                Push(bytes.data(), at, repack);
                if (receive) ReceiveLoop(kMaxReceives);
                Push(bytes.data() + at, bytes.size() - at, repack);
            } else {
                Push(bytes.data(), bytes.size(), repack);
            }
            if (receive) ReceiveLoop(kMaxReceives);
        }
    }

    const char* SnapshotPath(uint8_t kind, std::string& storage) const {
        switch (kind % 4) {
            case 0:
                return nullptr;
            case 1:
                storage = scratch_.Path("missing/dir/snapshot.bmp");
                return storage.c_str();
            default:
                storage = scratch_.Path("snapshot.bmp");
                return storage.c_str();
        }
    }

    void SavePictureOf(Program& p) {
        const int width = 1 + p.U8() % 64;
        const int height = 1 + p.U8() % 64;
        const PixelFormat format = p.Pick(kFormats);
        const uint8_t source = p.U8();
        std::string path;
        const char* name = SnapshotPath(p.U8(), path);
        // Room for every format of the table (at most 8 bytes a pixel, or a 1024-byte palette).
        const int needed = width * height * 8 + 2048;
        unsigned char* data = d().QVGetVideoFrame();
        std::vector<unsigned char> own;
        if (!(source & 1) || !data || d().QVGetVideoFrameSize() < needed) {
            own.assign(static_cast<size_t>(needed), source);
            data = own.data();
        }
        const int result = SavePicture(name, data, width, height, format);
        trace.Add(object_, "SavePicture(%dx%d, format %d) = %d", width, height, static_cast<int>(format), result);
        if (name) unlink(name);
    }

    void Query() {
        _video_param param{};
        d().QVGetParam(param);
        int width = 0, height = 0;
        d().QVGetOutputResolution(width, height);
        const int flags = d().QVGetPictureFlags();
        const int64_t time = d().QVGetFrameTimestamp();
        trace.Add(object_, "query: %dx%d codec %d format %d, output %dx%d, flags %d, time %lld", param.width,
                  param.height, param.codec_id, param.pix_fmt, width, height, flags, static_cast<long long>(time));
        // Whatever was last laid out, the accessors never claim more than their buffers hold.
        if (unsigned char* picture = d().QVGetVideoFrame()) {
            const int size = d().QVGetVideoFrameSize();
            if (size > 0) Touch(picture, size);
        }
        if (unsigned char* audio = d().QVGetAudioFrame()) {
            const int size = d().QVGetAudioFrameSize();
            if (size > 0) Touch(audio, size);
        }
    }

    void FileOpen(Program& p) {
        const uint8_t source = p.U8();
        const char* ending = p.Pick(kFileEndings);
        const EmbeddedStream& s = kStreams[p.U8() % kStreamCount];
        const auto blob = p.Blob(64 * 1024);
        std::vector<uint8_t> bytes;
        switch (source % 5) {
            case 0:  // the input's own bytes
                bytes.assign(blob.first, blob.first + blob.second);
                break;
            case 1:  // an embedded stream as an elementary-stream file
                bytes = Frames(s, 0, s.frames);
                break;
            case 2:  // an embedded stream with the input's bytes behind it
                bytes = Frames(s, 0, s.frames);
                bytes.insert(bytes.end(), blob.first, blob.first + blob.second);
                break;
            case 3: {
                const int result = d().QVOpen(nullptr);
                trace.Add(object_, "QVOpen(null) = %d", result);
                return;
            }
            default: {
                const std::string missing = scratch_.Path("missing/file.mp4");
                const int result = d().QVOpen(missing.c_str());
                trace.Add(object_, "QVOpen(missing file) = %d", result);
                return;
            }
        }
        const std::string path = scratch_.Path(std::string("input") + std::to_string(object_) + ending);
        if (!scratch_.Write(path, bytes)) return;
        const int result = d().QVOpen(path.c_str());
        unlink(path.c_str());  // the open decoder reads through its own handle
        trace.Add(object_, "QVOpen(%zu bytes, source %d, \"%s\") = %d", bytes.size(), source % 5, ending, result);
        Opened(result);
        if (result == 0 && TooLarge(d())) {
            d().QVClose();
            trace.Add(object_, "QVClose() (picture too large for a fuzz run)");
        }
    }

    void FileDecode(Program& p) {
        const int code = p.U8();
        const int count = 1 + code % kMaxFileDecodes;
        // The upper bits (the older seeds leave them clear): 0x20 sets the frame skip of the
        // next byte, 0x80 seeks first (0x40: to the key frame) to the signed tenths of a
        // second of the two bytes after.
        if (code & 0x20) {
            const int mode = p.U8() % 4;  // 3: no mode at all
            const int result = d().QVDecoderSetFrameSkip(mode);
            trace.Add(object_, "QVDecoderSetFrameSkip(%d) = %d", mode, result);
            if ((result == 0) != (mode < 3)) Fail("QVDecoderSetFrameSkip refuses a mode it takes or the reverse");
        }
        if (code & 0x80) {
            const int high = p.U8();
            const int16_t tenths = static_cast<int16_t>(high << 8 | p.U8());
            const int flags = (code & 0x40) ? QV_SEEK_KEY : QV_SEEK_ACCURATE;
            const int result = d().QVSeek(tenths * int64_t{100000}, flags);
            trace.Add(object_, "QVSeek(%d00 ms, %d) = %d", tenths, flags, result);
            if (result != 0 && result != -1 && result != QV_ERR_NOT_OPEN && result != QV_ERR_NOT_SEEKABLE &&
                result != QV_ERR_TIMEOUT) {
                Fail("QVSeek answers with a code of no seek");
            }
        }
        for (int i = 0; i < count && Spend(); ++i) {
            const int result = d().QVDecodeFrame();
            const int64_t time = d().QVGetFrameTimestamp();
            trace.Add(object_, "QVDecodeFrame() = %d, time %lld", result, static_cast<long long>(time));
            if (result == 0) {
                CheckPicture(d(), "QVDecodeFrame");
                CheckLimit("QVDecodeFrame", true);
            } else if (result == 1) {
                if (unsigned char* audio = d().QVGetAudioFrame()) {
                    const int size = d().QVGetAudioFrameSize();
                    if (size > 0) Touch(audio, size);
                }
            } else if (result == QV_ERR_END_OF_FILE || result == QV_ERR_NOT_OPEN) {
                break;
            }
        }
    }

    void FileRaw(Program& p) {
        const int size = p.Pick(kRawBufferSizes);
        const bool full = p.U8() & 1;
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);  // exact, so overruns show
        int header = 0, key = 0, position = 0;
        int64_t time = 0;
        const int n = full ? d().QVGetVideoRawFrame(buffer.get(), size, header, time, key, position)
                           : d().QVGetVideoRawFrame(buffer.get(), size, time, key);
        trace.Add(object_, "QVGetVideoRawFrame(%d bytes) = %d, header %d, key %d", size, n, header, key);
        if (n > size || (full && n > 0 && header > n)) Fail("QVGetVideoRawFrame claims more than it wrote");
    }

    void Step(Op op, Program& p) {
        switch (op) {
            case kSetParam: {
                const uint8_t bits = p.U8();
                shadow().field = bits & 1;
                const _decoder_param param{static_cast<code_mode>(bits & 1), static_cast<transfer_mode>((bits >> 1) & 1),
                                           static_cast<output_mode>((bits >> 2) & 1)};
                trace.Add(object_, "QVDecoderSetParam(%d, %d, %d) = %d", bits & 1, (bits >> 1) & 1, (bits >> 2) & 1,
                          d().QVDecoderSetParam(param));
                break;
            }
            case kSetEncodeMode: {
                const int mode = p.U8() & 1;
                shadow().field = mode;
                trace.Add(object_, "QVDecoderSetEncodeMode(%d) = %d", mode,
                          d().QVDecoderSetEncodeMode(static_cast<code_mode>(mode)));
                break;
            }
            case kSetStreamMode: {
                const int mode = p.U8() & 1;
                trace.Add(object_, "QVDecoderSetStreamMode(%d) = %d", mode,
                          d().QVDecoderSetStreamMode(static_cast<transfer_mode>(mode)));
                break;
            }
            case kSetOutputMode: {
                const int mode = p.U8() & 1;
                trace.Add(object_, "QVDecoderSetOutputMode(%d) = %d", mode,
                          d().QVDecoderSetOutputMode(static_cast<output_mode>(mode)));
                break;
            }
            case kSetDemux: {
                const int demux = p.U8() % 3;
                trace.Add(object_, "QVDecoderSetDemux(%d) = %d", demux, d().QVDecoderSetDemux(demux));
                break;
            }
            case kSetLatency: {
                const int mode = p.U8() & 1;
                trace.Add(object_, "QVDecoderSetLatencyMode(%d) = %d", mode,
                          d().QVDecoderSetLatencyMode(static_cast<latency_mode>(mode)));
                break;
            }
            case kSetThreads: {
                const int count = p.Pick(kThreadCounts);
                trace.Add(object_, "QVDecoderSetThreads(%d) = %d", count, d().QVDecoderSetThreads(count));
                break;
            }
            case kSetFastDecode: {
                const int on = p.U8() % 3;  // 2 is refused
                const int result = d().QVDecoderSetFastDecode(on);
                trace.Add(object_, "QVDecoderSetFastDecode(%d) = %d", on, result);
                if ((result == 0) != (on < 2)) Fail("QVDecoderSetFastDecode refuses a setting it takes or the reverse");
                break;
            }
            case kSetMaxPixels: {
                const int64_t limit = p.Pick(kMaxPixelLimits);
                const int result = d().QVDecoderSetMaxPixels(limit);
                trace.Add(object_, "QVDecoderSetMaxPixels(%lld) = %d", static_cast<long long>(limit), result);
                if ((result == 0) != (limit >= 0)) Fail("QVDecoderSetMaxPixels refuses a limit it takes or the reverse");
                if (result == 0) shadow().pending = limit == 0 ? kDefaultMaxPixels : limit;
                break;
            }
            case kOpenVideo: {
                const CodecID codec = p.Pick(kVideoCodecs);
                const Size size = p.PickSize(kPictureSizes);
                const PixelFormat format = p.Pick(kFormats);
                const int result = d().QVOpenDecoder(codec, _picture_param{size.width, size.height, format});
                trace.Add(object_, "QVOpenDecoder(video %d, %dx%d, format %d) = %d", static_cast<int>(codec), size.width,
                          size.height, static_cast<int>(format), result);
                Opened(result);
                break;
            }
            case kOpenAudio: {
                const CodecID codec = p.Pick(kAudioCodecs);
                const _audio_param audio = p.Pick(kAudioParams);
                const int result = d().QVOpenDecoder(codec, audio);
                trace.Add(object_, "QVOpenDecoder(audio %d, %d Hz, %d ch, %d b/s) = %d", static_cast<int>(codec),
                          audio.sample_rate, audio.channels, audio.bit_rate, result);
                if (result == 0) shadow().open = true;  // a later video open changes nothing
                break;
            }
            case kOpenCombined: {
                const CodecID video = p.Pick(kVideoCodecs);
                const Size size = p.PickSize(kPictureSizes);
                const PixelFormat format = p.Pick(kFormats);
                const CodecID audio = p.Pick(kAudioCodecs);
                const _audio_param param = p.Pick(kAudioParams);
                const int result = d().QVOpenDecoder(video, _picture_param{size.width, size.height, format}, audio, param);
                trace.Add(object_, "QVOpenDecoder(video %d, %dx%d, format %d, audio %d, %d Hz) = %d",
                          static_cast<int>(video), size.width, size.height, static_cast<int>(format),
                          static_cast<int>(audio), param.sample_rate, result);
                Opened(result);
                break;
            }
            case kPushBytes: {
                const int repack = p.U8() % 3;  // 2: a value that is neither off nor on
                const auto blob = p.Blob(16 * 1024);
                Push(blob.first, blob.second, repack);
                break;
            }
            case kPushFrames:
                PushFrames(p);
                break;
            case kReceive:
                ReceiveLoop(1 + p.U8() % kMaxReceives);
                break;
            case kFlush: {
                const uint8_t then = p.U8();
                trace.Add(object_, "QVFlushVideo() = %d", d().QVFlushVideo());
                if (then & 1) ReceiveLoop(2 * kMaxReceives);
                break;
            }
            case kSetOutput: {
                const Size size = p.PickSize(kOutputSizes);
                const PixelFormat format = p.Pick(kFormats);
                const char quality = static_cast<char>(p.U8() & 1);
                d().QVSetOutput(_picture_param{size.width, size.height, format}, quality);
                trace.Add(object_, "QVSetOutput(%dx%d, format %d, quality %d)", size.width, size.height,
                          static_cast<int>(format), quality);
                break;
            }
            case kSetOutputFormat: {
                const PixelFormat format = p.Pick(kFormats);
                const char quality = static_cast<char>(p.U8() & 1);
                d().QVSetOutputFormat(format, quality);
                trace.Add(object_, "QVSetOutputFormat(%d, quality %d)", static_cast<int>(format), quality);
                break;
            }
            case kSetOutputResolution: {
                const Size size = p.PickSize(kOutputSizes);
                const char quality = static_cast<char>(p.U8() & 1);
                d().QVSetOutputResolution(size.width, size.height, quality);
                trace.Add(object_, "QVSetOutputResolution(%d, %d, quality %d)", size.width, size.height, quality);
                break;
            }
            case kSetPictureParam: {
                const Size size = p.PickSize(kPictureSizes);
                const PixelFormat format = p.Pick(kFormats);
                const int result = d().QVSetPictureParam(_picture_param{size.width, size.height, format});
                trace.Add(object_, "QVSetPictureParam(%dx%d, format %d) = %d", size.width, size.height,
                          static_cast<int>(format), result);
                // A stream decoder is opened again for the new picture, a file decoder is not.
                if (result == 0) shadow().active = std::max(shadow().active, shadow().pending);
                break;
            }
            case kSaveCurrent:
            case kSaveOutput: {
                std::string path;
                const char* name = SnapshotPath(p.U8(), path);
                const bool current = op == kSaveCurrent;
                const int result = current ? d().QVSaveCurrentImage(name) : d().QVSaveOutputImage(name);
                trace.Add(object_, "%s(%s) = %d", current ? "QVSaveCurrentImage" : "QVSaveOutputImage",
                          name ? name : "null", result);
                if (name) unlink(name);
                break;
            }
            case kSavePicture:
                SavePictureOf(p);
                break;
            case kQuery:
                Query();
                break;
            case kDecodeAudio: {
                const auto blob = p.Blob(16 * 1024);
                std::unique_ptr<unsigned char[]> copy(new unsigned char[blob.second ? blob.second : 1]);
                if (blob.second) std::memcpy(copy.get(), blob.first, blob.second);
                const int result = d().QVDecodeAudioFrame(copy.get(), static_cast<int>(blob.second));
                trace.Add(object_, "QVDecodeAudioFrame(%zu bytes) = %d, %d bytes out", blob.second, result,
                          d().QVGetAudioFrameSize());
                if (result == 0) {
                    unsigned char* audio = d().QVGetAudioFrame();
                    const int size = d().QVGetAudioFrameSize();
                    if (audio && size > 0) Touch(audio, size);
                }
                break;
            }
            case kClose:
                d().QVClose();
                shadow().open = false;
                trace.Add(object_, "QVClose()");
                break;
            case kMoveConstruct: {
                const int from = (p.U8() & 1) ? object_ : 1 - object_;
                std::unique_ptr<QVDecoder> moved(new QVDecoder(std::move(*slots_[from])));
                slots_[object_] = std::move(moved);
                // The new object takes the source's state; the source is left as a new one.
                const Shadow taken = shadows_[from];
                if (from != object_) shadows_[from] = Shadow{};
                shadows_[object_] = taken;
                trace.Add(object_, "= QVDecoder(std::move(d%d))", from);
                break;
            }
            case kMoveAssign: {
                const int from = (p.U8() & 1) ? object_ : 1 - object_;
                QVDecoder& source = *slots_[from];
                d() = std::move(source);
                if (from != object_) {
                    std::swap(shadows_[object_], shadows_[from]);  // the source keeps this object's state,
                    shadows_[from].open = false;                   // closed
                }
                trace.Add(object_, "= std::move(d%d)", from);
                break;
            }
            case kRecreate: {
                const uint8_t how = p.U8();
                const Size size = p.PickSize(kOutputSizes);
                const PixelFormat format = p.Pick(kFormats);
                shadow() = Shadow{};
                if (how & 1) {
                    slots_[object_].reset(new QVDecoder(_picture_param{size.width, size.height, format}, 0));
                    trace.Add(object_, "= QVDecoder(output %dx%d, format %d)", size.width, size.height,
                              static_cast<int>(format));
                } else {
                    slots_[object_].reset(new QVDecoder());
                    trace.Add(object_, "= QVDecoder()");
                }
                break;
            }
            case kFileOpen:
                FileOpen(p);
                break;
            case kFileDecode:
                FileDecode(p);
                break;
            case kFileRaw:
                FileRaw(p);
                break;
            case kRegisterLog: {
                const int level = p.Pick(kLogLevels);
                d().QVDecoderRegisterLog(SilentLog, level);
                trace.Add(object_, "QVDecoderRegisterLog(level %d)", level);
                break;
            }
            case kInterrupt:
                // Made while nothing waits: it ends the next blocking call of the object, and
                // only that one (a seek after it once looped for ever).
                d().QVInterrupt();
                trace.Add(object_, "QVInterrupt()");
                break;
            case kOpCount:
                break;
        }
    }

    const Scratch& scratch_;
    std::unique_ptr<QVDecoder> slots_[2];
    Shadow shadows_[2];
    int object_ = 0;
    int decode_calls_ = 0;
    bool stop_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    static bool initialized = [] {
        QVDecoderInitialize();
        return true;
    }();
    (void)initialized;
    trace.Clear();
    {
        // FFmpeg's log is process-wide: every input starts quiet, whatever the last one set.
        QVDecoder quiet;
        quiet.QVDecoderRegisterLog(SilentLog, -8);
    }
    Program program(data, size);
    {
        Runner runner(scratch);
        runner.Run(program);
    }
    // QV_API_FUZZER_TRACE=1 prints the calls of every input, to see what a seed reaches.
    static const bool print_trace = std::getenv("QV_API_FUZZER_TRACE") != nullptr;
    if (print_trace) std::fprintf(stderr, "input of %zu bytes:\n%s", size, trace.text().c_str());
    return 0;
}
