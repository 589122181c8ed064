// libqvdecoder: decodes pushed camera streams and media files into raw pictures and PCM.
//
// One QVDecoder object serves one stream or one file. Call QVDecoderInitialize() once per
// process before constructing objects, QVDecoderDestroy() after the last one is gone.
// Methods return 0 on success and a negative code on failure (see QV_ERR_* below);
// no exception ever leaves the library.
#ifndef QVDECODER_H
#define QVDECODER_H

#include <cstdarg>
#include <cstdint>
#include <memory>

#include "qvdecoder_ids.h"  // CodecID and PixelFormat: the numbers hosts pass

#if defined(_WIN32)
#  if defined(QVDECODER_BUILD)
#    define QVDECODER_API __declspec(dllexport)
#  else
#    define QVDECODER_API __declspec(dllimport)
#  endif
#else
#  define QVDECODER_API __attribute__((visibility("default")))
#endif

// Result codes.
enum {
    QV_OK = 0,
    QV_AUDIO_PIECE = 1,           // QVDecodeFrame: a piece of an audio packet was decoded
    QV_FAILED = -1,
    QV_ERR_OPEN_FILE = -10001,    // no file name / cannot open / packet of another stream
    QV_ERR_NO_PICTURE = -10002,   // a packet was read but gave no picture or audio
    QV_ERR_END_OF_FILE = -10003,
    QV_ERR_BAD_DATA = -10005,
    QV_ERR_NO_MEMORY = -10006,
    QV_ERR_NO_DECODER = -10007,
    QV_ERR_NOT_OPEN = -10008,
    QV_ERR_TIMEOUT = -10010,      // a live source gave nothing within the timeout, or QVInterrupt
    QV_ERR_NETWORK = -10011,      // a live source cannot be reached or failed
    QV_ERR_BUFFER_TOO_SMALL = -10012,  // a host buffer smaller than the picture: nothing written
    QV_ERR_AUDIO_OPEN = -10100,   // the combined open failed in its audio half
};


// Modes: only the value 1 of each changes behaviour.
enum code_mode { CODE_MODE_FRAME = 0, CODE_MODE_FIELD = 1 };           // 1: two coded fields per frame
enum transfer_mode { TRANSFER_MODE_FRAME = 0, TRANSFER_MODE_CHUNK = 1 };  // 1: input cut at packet bounds
enum output_mode { OUTPUT_MODE_ALL = 0, OUTPUT_MODE_KEY_FIRST = 1 };  // 1: nothing before a key frame

struct _picture_param {
    int width;
    int height;
    enum PixelFormat format;
};

struct _audio_param {
    int sample_rate;
    int channels;
    int bit_rate;
};

struct _decoder_param {
    enum code_mode code_mode;
    enum transfer_mode transfer_mode;
    enum output_mode output_mode;
};

// Parameters of a picture (and, in video_param, of the audio). Inside the library the
// codec and pixel-format fields hold FFmpeg's own values; QVGetParam hands out the
// interface numbering.
struct _video_param {
    int codec_id;
    int width;
    int height;
    int pix_fmt;
    int frame_rate_den;
    int frame_rate_num;
    int bit_rate;
    int audio_codec_id;
    int sample_rate;
    int channels;
    int audio_bit_rate;
    int video_buffer_size;
    unsigned char* video_buffer;
    int audio_buffer_size;
    unsigned char* audio_buffer;
};

// Same shape as FFmpeg's log callback; the library's own messages come with a null
// context and an empty argument list.
typedef void (*QVLogCallback)(void* context, int level, const char* text, va_list args);

// Flags of the picture last laid out (QVGetPictureFlags).
enum {
    QV_PICTURE_KEY = 1,       // a key frame
    QV_PICTURE_DAMAGED = 2,   // decode errors were concealed, or a reference is missing since
                              // the last key frame: the picture may be smeared
    QV_PICTURE_DRAINED = 4,   // handed out by an end-of-stream or end-of-file drain
};

// Conversion engines (QVDecoderSetConverter).
enum {
    // libyuv converts and scales 4:2:0 pictures (yuv420p, yuvj420p, nv12, nv21) to BGR24,
    // RGB24, BGRA, RGBA, ARGB, ABGR and to yuv420p; libswscale does everything else and
    // every high-quality (bicubic) conversion.
    QV_CONVERTER_AUTO = 0,
    // libswscale for every conversion.
    QV_CONVERTER_SWSCALE = 1,
};

// Colour matrix of the picture last laid out (QVGetPictureColour), with QV_COLOUR_FULL_RANGE
// added for full-range (JPEG) pictures: what a host that converts the planes itself needs.
enum {
    QV_COLOUR_BT601 = 0,  // also every untagged picture
    QV_COLOUR_BT709 = 1,
    QV_COLOUR_BT2020 = 2,  // non-constant luminance
    QV_COLOUR_SMPTE240M = 3,
    QV_COLOUR_FCC = 4,
    QV_COLOUR_FULL_RANGE = 0x100,
};

// Coding type of the picture last laid out (QVGetPictureType); 0 for any other.
enum {
    QV_PICTURE_TYPE_I = 1,
    QV_PICTURE_TYPE_P = 2,
    QV_PICTURE_TYPE_B = 3,
};

// File-mode seeking (QVSeek) and the result when the file cannot move back.
enum {
    QV_SEEK_ACCURATE = 0,  // the next picture is the first at or after the time
    QV_SEEK_KEY = 1,       // the next picture is the key frame at or before the time
};
#define QV_ERR_NOT_SEEKABLE (-10009)

// Pictures the decoder skips (QVDecoderSetFrameSkip).
enum {
    QV_SKIP_NONE = 0,    // every picture
    QV_SKIP_NONREF = 1,  // pictures no other picture refers to are not decoded
    QV_SKIP_NONKEY = 2,  // key frames only; file mode reads past the other packets
};

// Stream-mode reordering (QVDecoderSetLatencyMode).
enum latency_mode {
    // Pictures come out as soon as the decoder can tell their order: right for cameras that
    // send no B-frames. An H.264 stream whose parameter sets do not state its reordering depth
    // may lose the first B-pictures while the decoder learns it.
    LATENCY_MODE_LOW = 0,
    // The host runs the QVReceiveVideoFrame loop and flushes at the end of the stream, and no
    // picture is lost: H.264 streams whose parameter sets do not state their reordering depth
    // are held back by the largest picture buffer their level allows (up to 16 pictures for
    // small pictures, 4 to 6 at 1080p) so that no B-picture is dropped; streams that state
    // their depth cost only that depth, as in low-latency mode. Decoding threads may also run
    // frame-parallel (QVDecoderSetThreads). Field-coded streams (CODE_MODE_FIELD) decode as in
    // low-latency mode: both fields' pictures come out within their push.
    LATENCY_MODE_COMPLETE = 1,
};

QVDECODER_API void QVDecoderInitialize();
QVDECODER_API void QVDecoderDestroy();
// FFmpeg's own log lines (libavcodec's and libavformat's warnings and errors, such as
// "sps_id 32 out of range" on a damaged stream) go to stderr by default, in every host.
// FFmpeg keeps one log callback for the whole process: this routes its lines of `level`
// (FFmpeg's numbers: 8 fatal, 16 error, 24 warning, 32 info) or more severe, one whole line
// per call without its newline, to callback; a null callback silences them. It replaces the
// routing QVDecoderRegisterLog sets up (that one also hands FFmpeg its callback, process-wide):
// the call made last decides. The callback may run on FFmpeg's decoding threads. Until either
// is called, QVDecoderInitialize passes FFmpeg's lines through the library to FFmpeg's own
// printer (so that QVGetOpenError can tell why an open failed): a host that installs FFmpeg's
// callback itself does so after QVDecoderInitialize.
typedef void (*QVFFmpegLineCallback)(void* context, int level, const char* line);
QVDECODER_API void QVDecoderSetFFmpegLog(QVFFmpegLineCallback callback, void* context, int level);
// Saves a picture as a 24-bit BMP file; format uses the interface numbering. It reads the
// layout of the decoder's own buffers: planes back to back, rows unpadded, chroma planes of
// cw = (w + 1) / 2 columns and ch = (h + 1) / 2 rows where the format halves them:
//   BGR24, RGB24, YUV444P (and J) 3*w*h     ARGB, RGBA, ABGR, BGRA 4*w*h
//   RGB565, RGB555, BGR565, GRAY16... 2*w*h GRAY8, BGR8, RGB8, BGR4_BYTE... w*h
//   YUV420P (and J), NV12, NV21 w*h + 2*cw*ch   YUV422P (and J) w*h + 2*cw*h
//   YUYV422, UYVY422 4*cw*h
//   PAL8 w*h indexes, then a 1024-byte palette: 256 entries of B G R A bytes
// Other formats read av_image_get_buffer_size(format, w, h, 1) bytes; formats libswscale
// cannot read (hardware surfaces) give -1. BGR24 rows are written as given: the first row
// becomes the bottom row of the image.
QVDECODER_API int SavePicture(const char* path, unsigned char* data, int width, int height,
                              enum PixelFormat format);
// Writes packed BGR24 rows as a BMP file; the first row becomes the bottom row.
QVDECODER_API int WriteBmpFile(const char* path, unsigned char* data, int width, int height);

class QVDECODER_API QVDecoder {
public:
    QVDecoder();
    QVDecoder(_picture_param output, char high_quality);
    ~QVDecoder();
    QVDecoder(const QVDecoder&) = delete;
    QVDecoder& operator=(const QVDecoder&) = delete;
    QVDecoder(QVDecoder&& other) noexcept;
    QVDecoder& operator=(QVDecoder&& other) noexcept;

    void QVClose();
    int QVDecoderRegisterLog(QVLogCallback callback, int level);

    // Modes.
    int QVDecoderSetParam(_decoder_param param);
    int QVDecoderSetEncodeMode(enum code_mode mode);
    int QVDecoderSetStreamMode(enum transfer_mode mode);
    int QVDecoderSetOutputMode(enum output_mode mode);
    // Program streams split frames across packs: demultiplexing without TRANSFER_MODE_CHUNK
    // (QVDecoderSetStreamMode) loses the pictures of split frames. Turn both on unless every
    // pack of the source holds whole frames; the C and Python interfaces do it by default.
    int QVDecoderSetDemux(int demux);

    // Stream mode.
    // Pushed bytes are copied into a padded buffer of the object (reused from call to call),
    // so the host's buffer is never read past its length. A null pointer or a length <= 0
    // gives -1 without touching the decoder. With demultiplexing, only video PES packets
    // (stream ids 0xE0 to 0xEF) make up the picture; audio in the same pack is stepped over.
    // With TRANSFER_MODE_CHUNK, libavcodec's parser cuts the pushed bytes into whole frames;
    // frames the decoder cannot take yet wait on the object, in order, and the further
    // pictures come out of QVReceiveVideoFrame. A video open (or QVOpen) of an object that is
    // open already returns 0 and changes nothing, new settings included; a level-15 message
    // says so. QVClose first to open with other settings.
    int QVOpenDecoder(enum CodecID codec, _picture_param picture);
    int QVOpenDecoder(enum CodecID codec, _audio_param audio);
    int QVOpenDecoder(enum CodecID video_codec, _picture_param picture, enum CodecID audio_codec,
                      _audio_param audio);
    int QVSetPictureParam(_picture_param picture);
    int QVDecodeVideoFrame(unsigned char* data, int length, int repack);
    int QVDecodeAudioFrame(unsigned char* data, int size);

    // Results. With output conversion on, QVGetVideoFrame hands out the converted picture,
    // which is scaled straight from the decoder's frame; the decoded picture is laid out in
    // the object's own picture buffer only when something reads it (QVSaveCurrentImage, the
    // field merge), so a host never pays for a copy it does not use. Pointers stay valid
    // until the next decode call, a change of the picture or output parameters, or QVClose.
    // A change of the output settings (QVSetOutput...) or of the converter between a decode
    // and the read applies to the picture already decoded: its next read (QVGetVideoFrame,
    // QVGetVideoFrameInto, QVSaveOutputImage) converts it with the new settings, whether it
    // was read before or not (field-coded streams: from their next picture on).
    unsigned char* QVGetVideoFrame();
    int QVGetVideoFrameSize();
    int QVGetParam(_video_param& param);
    unsigned char* QVGetAudioFrame();
    int QVGetAudioFrameSize();

    // File mode. At the end of the file the pictures the decoder still holds come out (0)
    // before -10003; each reports its own time. A file without packet times (an elementary
    // stream) advances by the frame period. After -10003 a later call reads again, so a host
    // can follow a file that is still being written (transport and program streams): the
    // decoder then starts afresh and its pictures are flagged damaged until a key frame.
    int QVOpen(const char* name);
    int QVDecodeFrame();
    // The time of the last packet handed to a decoder, in microseconds truncated toward zero:
    // for video its decoding time, which with B-frames is not the time of the picture that
    // comes out. The picture's own time is QVGetPictureTime, on the same clock. A time a
    // packet states is converted here by the classic arithmetic, in double precision (time
    // base numerator x ticks / denominator, then x 1000000, truncated toward zero), which
    // can land 1 us below the exact time QVGetPictureTime gives for the same tick (8.04 s in
    // a 1/25 time base gives 8039999) or, more rarely, 1 us above; never further. Times the
    // library counts itself (packets and pictures without a time of their own, an AVI
    // file's last pictures) are the same whole microsecond in both.
    // For audio the packet's time, except where the stream drops the packet's first samples
    // (the first packet kept after a cut's edit list): then the time of its first sample
    // kept, as libavcodec times it, so the audio starts where the cut does.
    int64_t QVGetFrameTimestamp();
    // key_flag is 1 for key-frame packets and 0 otherwise, whatever other flags a packet
    // carries; H.264 key frames come with their parameter sets in front.
    int QVGetVideoRawFrame(unsigned char* buffer, int size, int& header_length, int64_t& timestamp_ms,
                           int& key_flag, int& position);
    int QVGetVideoRawFrame(unsigned char* buffer, int size, int64_t& timestamp_ms, int& key_flag);

    // Output settings. A size of 0 or a format of PIX_FMT_NONE left open follows the decoded
    // picture, in stream and file mode alike.
    void QVSetOutput(_picture_param picture, char high_quality);
    void QVSetOutputFormat(enum PixelFormat format, char high_quality);
    void QVSetOutputResolution(int width, int height, char high_quality);
    void QVGetOutputResolution(int& width, int& height);

    // Snapshots: -1 for a null path, a picture that cannot be converted, or a file that
    // cannot be written whole.
    int QVSaveCurrentImage(const char* path);
    int QVSaveOutputImage(const char* path);

    // ---- Extensions beyond the classic interface ----
    // None of them changes what the methods above return.

    // The next picture the decoder already holds or that queued input yields, laid out
    // exactly as a successful QVDecodeVideoFrame lays it out (picture buffer, conversion,
    // field merge, key-frame gating). Takes no new input. 0 with a picture, -1 when none is
    // ready. Call it after every push until it returns -1: one push may yield several
    // pictures (several frames in one program-stream pack or chunk, frame threads).
    int QVReceiveVideoFrame();
    // End of stream: the decoder gives up every picture it still holds; QVReceiveVideoFrame
    // then hands them out one by one (flag QV_PICTURE_DRAINED). Afterwards the decoder takes
    // new input again, as from a fresh start (a host that reconnects a camera keeps its object).
    // 0, or -1 when no stream-mode video decoder is open.
    int QVFlushVideo();
    // QV_PICTURE_* flags of the picture last laid out (0 before the first one).
    int QVGetPictureFlags();
    // Stream-mode reordering, see latency_mode. Takes effect at the next QVOpenDecoder.
    int QVDecoderSetLatencyMode(enum latency_mode mode);
    // Decoding threads: 1 (the default: one push gives at most one picture, as always), 0 for
    // one per core, or a count up to 64; anything else is refused with -1. Takes effect at the
    // next open. File mode uses frame and slice threads. Stream mode uses slice threads, and in
    // LATENCY_MODE_COMPLETE frame threads too: a picture then comes out up to count - 1 pushes
    // later than with one thread, so the host runs the QVReceiveVideoFrame loop and flushes at
    // the end of the stream. Which pictures come out never depends on the thread count, only when.
    int QVDecoderSetThreads(int count);
    // The largest decoded picture the object accepts, in pixels (width x height); 0 restores
    // the default, 8192 x 4320, and a negative count is refused with -1. Takes effect at the
    // next open. A frame whose picture is larger gives no picture (QVDecodeVideoFrame -1,
    // QVDecodeFrame -10002) and nothing is allocated for it; QVOpen refuses a file whose
    // video is larger (-10005), QVOpenDecoder (-10005) and QVSetPictureParam (-1) a larger
    // picture, and the output setters a larger output size (the previous output stays).
    // A level-15 message says which limit was met.
    int QVDecoderSetMaxPixels(int64_t max_pixels);
    // The streams the next QVOpen decodes, by their index in the file (as qvdecode info lists
    // them): -1 none, -2 the default choice (the last stream of each kind). 0, or -1 for an
    // index below -2. QVOpen fails with -10005 ("QVOpen: no such video stream." or "... audio
    // stream.") when the index is not a stream of that kind. Kept for later opens.
    int QVDecoderSelectStreams(int video, int audio);
    // The limit QVDecoderSetMaxPixels set, in pixels (8192 x 4320 by default): the largest
    // decoded picture the next open accepts and the largest output size the setters accept.
    int64_t QVGetMaxPixels();
    // Raw extraction: the bytes the next QVGetVideoRawFrame needs for its packet, 0 at the end
    // of the file, -1 before a file is open (or when its packets are not offered). A
    // QVGetVideoRawFrame whose buffer is too small returns 0 as always but keeps the packet
    // for the next call (a level-15 message names the size needed): a host that grows its
    // buffer then gets every packet. Codecs handed out as stored are cut to the buffer, as
    // always; this tells the size that gets them whole. A QVGetVideoRawFrame that timed out
    // or was interrupted also returns 0 (with a level-15 message) and loses nothing: the next
    // call goes on where it was. This call then gives QV_ERR_TIMEOUT when its own read gives
    // up, so 0 always means the end.
    int QVGetVideoRawFrameSize();
    // The pixel format of the buffer QVGetVideoFrame hands out: the output format while output
    // conversion is on, else the decoded picture's (PIX_FMT_NONE before any).
    enum PixelFormat QVGetOutputFormat();
    // The conversion engine, QV_CONVERTER_AUTO (the default) or QV_CONVERTER_SWSCALE; 0, or
    // -1 (engine unchanged) for anything else. Takes effect at the next picture. Either
    // engine converts with the picture's colour matrix and range (BT.601, BT.709, BT.2020;
    // limited or full range); untagged pictures are BT.601 limited range, yuvj* full range.
    // The engines' bytes may differ by a level or two; size, format and layout never do.
    int QVDecoderSetConverter(int engine);
    // The planes of the picture last decoded, as the decoder left them (rows may be padded),
    // without a copy: 0 with data and linesize filled (unused planes null and 0), -1 when
    // output conversion is on or there is no picture. Valid until the next decode, receive,
    // flush or close call on the object.
    int QVGetVideoPlanes(unsigned char* data[4], int linesize[4]);
    // The picture QVGetVideoFrame hands out (same bytes, size and layout), written straight
    // into the host's memory: with output conversion on, the conversion writes there (no
    // copy follows it) as long as nothing has read the picture since it was decoded; a
    // decoded picture is laid out there from the decoder's planes. Returns the bytes written
    // (QVGetVideoFrameSize), QV_ERR_BUFFER_TOO_SMALL with nothing written when `size` is
    // smaller, -1 for a null buffer or when there is no picture. The library keeps no
    // pointer to the buffer. A host that wants each picture in memory of its own (Python's
    // arrays) calls it instead of QVGetVideoFrame and a copy.
    int QVGetVideoFrameInto(unsigned char* buffer, int size);
    // The colour matrix and range the picture last laid out is coded in (QV_COLOUR_*, plus
    // QV_COLOUR_FULL_RANGE for full range), as the conversion uses them; -1 before a picture.
    int QVGetPictureColour();
    // The presentation time of the picture last laid out (file mode and live sources), in
    // microseconds on the clock of QVGetFrameTimestamp (same origin, truncated toward zero):
    // the decoder's best-effort time of the picture, so pictures come out in the order of
    // their times. -1 before a picture and in stream mode. Seeks, the start time and the
    // length are on this clock: a seek to a time this reported gives that very picture.
    int64_t QVGetPictureTime();
    // File mode: moves to `time_us` on the clock of QVGetPictureTime. QV_SEEK_ACCURATE:
    // the next picture QVDecodeFrame gives is the first whose time is at or after it (the
    // pictures from the key frame before it are decoded but not handed out); QV_SEEK_KEY: the
    // next picture is the key frame at or before it. A time before the first picture gives
    // the first picture, one past the last picture leaves the file at its end (-10003 next),
    // whatever length the container states. Audio
    // follows from the time on; QVGetVideoRawFrame continues from the key frame at or before
    // it. 0; -10008 when no file is open, -1 for an unknown flag, QV_ERR_NOT_SEEKABLE when the
    // input cannot go back (pipes, live sources: reading goes on where it was), QV_ERR_TIMEOUT
    // when QVInterrupt ended the reading the seek itself does (a stream without timestamps is
    // scanned for its key frames; past the end, the last packets are read off): seek again.
    // The pictures a seek decodes on its way are never more than a decoding from the start
    // would read; an interrupt ends that QVDecodeFrame with QV_ERR_TIMEOUT and the next goes on.
    int QVSeek(int64_t time_us, int flags);
    // QV_SKIP_* for the decoding that follows: 0, or -1 for an unknown mode. Key-frame-only
    // pictures come out as soon as they are decoded, each with its presentation time.
    int QVDecoderSetFrameSkip(int mode);
    // File mode, microseconds on the clock of QVGetPictureTime: the length of the open file
    // (-1 when the container does not say, or no file is open) and the time of its first
    // picture (0 when unknown).
    int64_t QVGetDuration();
    int64_t QVGetStartTime();
    // File mode: the count of video frames the container states, less those its edit list
    // hides (a cut made without re-encoding keeps frames before its start that are never
    // shown); -1 when it does not say.
    int64_t QVGetFrameCount();
    // File mode: the bit rate (bit/s) the open file states for its decoded video or audio
    // stream, -1 where it states none. QVGetParam's bit_rate stands in a default there.
    int64_t QVGetStatedVideoBitRate();
    int64_t QVGetStatedAudioBitRate();
    // The coding type of the picture last laid out: QV_PICTURE_TYPE_I, _P, _B, 0 otherwise
    // (and before a picture).
    int QVGetPictureType();
    // The sample aspect ratio of the picture last laid out (the shape of one pixel; display
    // width = width x num / den), reduced: 1 with it, 0 with 1:1 when the stream does not say.
    int QVGetPictureAspect(int& num, int& den);
    // The display rotation of the picture last laid out: the clockwise turn in degrees (0, 90,
    // 180 or 270) that shows it upright, as a phone recording's display matrix states it (the
    // container's, else the stream's own, such as H.264's display orientation message). The
    // picture is handed out as decoded, never turned: a host turns it itself. 0 when nothing
    // says, and before a picture. A mirrored matrix reports its turn alone. (ffprobe names the
    // same matrix by its counterclockwise angle: 90 here is its -90.)
    int QVGetPictureRotation();

    // Live sources. QVOpen also takes network names: rtsp:// (over TCP unless the option
    // rtsp_transport says udp), rtp:// and udp://, a session description file (.sdp) for RTP over
    // UDP, http(s):// (MJPEG cameras, HLS playlists), srt:// and pipe:N (a file descriptor, read as
    // a file once: its own times and its end, no live probe). Nothing is opened or read twice, so a
    // pipe or a FIFO plays as its file would. A live source opens with a short probe and hands out
    // packets as they arrive.
    // A source that ends (RTSP teardown, HTTP end) gives -10003 after the pictures the
    // decoder held, as a file's end does; a network failure gives QV_ERR_NETWORK in its
    // place, and QVOpen gives it for a source that cannot be reached.
    //
    // Bounds every blocking open and read of sources that can stall (network, pipes, FIFOs)
    // in QVOpen (the whole open), QVDecodeFrame, QVGetVideoRawFrame and its size: a call that
    // waits longer gives QV_ERR_TIMEOUT with a level-15 message and the object stays usable,
    // nothing lost: the next call goes on where it was (QVClose and QVOpen again to
    // reconnect). A local file's open and reads are never cut short by it. Milliseconds,
    // default 10000; 0 waits forever; a negative value is refused with -1. Takes effect at
    // the next call. A source that sends more than any reply or packet needs (32 MB in one
    // call) fails with QV_ERR_NETWORK instead of taking the memory.
    int QVDecoderSetTimeout(int ms);
    // Passes an option to the network layer at every later QVOpen (rtsp_transport tcp|udp,
    // user_agent, headers, timeout values, ...); a null value removes it. Values are never
    // logged, so credentials may go here. -1 for a null or empty key.
    int QVDecoderSetNetworkOption(const char* key, const char* value);
    // Why the last QVOpen failed, in words: FFmpeg's reason where it gave one ("moov atom not
    // found", "No such file or directory", "Is a directory", "Connection refused"), else the
    // library's level-15 message; the password of an address is masked. Empty before the
    // first QVOpen and after one that succeeded; never null. Valid until the next QVOpen.
    const char* QVGetOpenError();
    // Copies text into buffer (size bytes, terminated whenever size > 0) with every password masked
    // by the rule the library's log follows, for hosts that show addresses themselves:
    // "scheme://user:password@" and the query fields password=, pwd=, passwd=, pass= and
    // passphrase= (any case) become "******", one length whatever the password's. Returns the
    // length of the whole masked text (larger than size - 1: the buffer holds its start), or -1 for
    // a null text, a negative size or a null buffer with a positive size.
    static int QVMaskPassword(const char* text, char* buffer, int size);
    // The one method that may be called from another thread while a call on this object is
    // running: a blocked open returns QV_ERR_TIMEOUT at once, a blocked read once it waits on
    // a quiet source (within 0.1 s; a read that is getting bytes finishes its packet first and
    // returns QV_ERR_TIMEOUT with it kept for the next call, so that nothing is lost: a local
    // file's read likewise, at its next packet). Called while nothing waits, it ends the next
    // blocking call (QVOpen, QVDecodeFrame, QVSeek's own reading, QVGetVideoRawFrame and its
    // size) before it reads anything. Each interrupt ends exactly one call, which clears it:
    // the call after goes on where it was. QVClose forgets one nobody waited for.
    void QVInterrupt();
    // The capture time of the picture last laid out, in microseconds since the epoch, as a
    // live source's sender reports state it (RTCP sender reports); -1 when unknown.
    int64_t QVGetPictureWallclock();
    // File mode: microseconds from the arrival of the packet that completed the picture last
    // handed out by QVDecodeFrame to its hand-out (the library's own latency); -1 before the
    // first picture.
    int64_t QVGetPictureDelay();
    // Live sources (file mode): a budget in milliseconds for how old a picture may be when
    // QVDecodeFrame hands it out, counted from when its packets would have been read by a
    // host that keeps up. 0 (the default) hands out every picture however late. With a
    // budget, a host slower than its camera gets the newest picture: older ones are decoded
    // without being laid out, and when decoding itself falls behind, the packets up to the
    // next key frame are not decoded at all; no picture handed out lacks its references.
    // A negative budget is refused with -1. Holds for later opens.
    int QVDecoderSetMaxLatency(int ms);
    // Pictures passed over or skipped to stay within the budget since the last open.
    int64_t QVGetSkippedPictures();
    // Fast decoding for outputs much smaller than the picture (grid tiles, thumbnails): 1 on, 0 off
    // (the default: every picture decodes exactly); anything else is refused with -1. Holds for
    // later opens. On, the decoder skips what the output cannot show, judged after each picture by
    // the output size then in force for the pictures decoded after it (the first picture after an
    // open or a change is decoded exactly): H.264 and HEVC skip the loop filter and take
    // libavcodec's fast shortcuts while the output is at most half the picture each way (a small
    // drift from the exact picture, which shrinking hides), and MJPEG decodes at a half, a quarter
    // or an eighth of its size when that size is the output's or a whole multiple of it; the
    // decoded picture (QVGetParam, QVGetVideoPlanes, QVSaveCurrentImage) is then that size, and the
    // output keeps the size asked for.
    int QVDecoderSetFastDecode(int on);

    struct Impl;  // the implementation; opaque to hosts

private:
    friend struct QVDecoderInternals;  // the library's own tests reach the parts through it
    std::unique_ptr<Impl> impl_;
};

#endif  // QVDECODER_H
