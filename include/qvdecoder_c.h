/* libqvdecoder from C (and from anything that calls C: Python's ctypes, Rust, Go, ...).
 *
 * One qv_decoder handle wraps one QVDecoder object (QVDecoder.h) and serves one stream or one
 * file. Every function checks its handle and pointers and answers with a result code instead of
 * crashing; nothing C++ crosses this interface. A handle is not safe to use from two threads at
 * once; different handles are independent.
 *
 * Codes are those of the C++ interface (QV_OK, QV_ERR_*), plus QV_ERR_ARGUMENT for a null handle,
 * a null pointer, a negative length or a mode number out of range. qv_strerror() says what each
 * one means.
 *
 * Buffers handed out (qv_picture, qv_audio) belong to the decoder: they stay valid until the next
 * decoding call, open, close or output change on the same handle.
 */
#ifndef QVDECODER_C_H
#define QVDECODER_C_H

#include <stdarg.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QVDECODER_BUILD)
#    define QVDECODER_C_API __declspec(dllexport)
#  else
#    define QVDECODER_C_API __declspec(dllimport)
#  endif
#else
#  define QVDECODER_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
/* C++ code that mixes both interfaces gets the shared result codes and picture flags from the
   C++ header, which declares them under the same names. */
#include "QVDecoder.h"
extern "C" {
#else
/* Result codes, as in QVDecoder.h. */
enum {
    QV_OK = 0,
    QV_AUDIO_PIECE = 1,
    QV_FAILED = -1,
    QV_ERR_OPEN_FILE = -10001,
    QV_ERR_NO_PICTURE = -10002,
    QV_ERR_END_OF_FILE = -10003,
    QV_ERR_BAD_DATA = -10005,
    QV_ERR_NO_MEMORY = -10006,
    QV_ERR_NO_DECODER = -10007,
    QV_ERR_NOT_OPEN = -10008,
    QV_ERR_TIMEOUT = -10010,
    QV_ERR_NETWORK = -10011,
    QV_ERR_BUFFER_TOO_SMALL = -10012,
    QV_ERR_AUDIO_OPEN = -10100
};
#define QV_ERR_NOT_SEEKABLE (-10009)

/* qv_seek flags and qv_set_frame_skip modes, as in QVDecoder.h. */
enum { QV_SEEK_ACCURATE = 0, QV_SEEK_KEY = 1 };
enum { QV_SKIP_NONE = 0, QV_SKIP_NONREF = 1, QV_SKIP_NONKEY = 2 };

/* Coding types of the picture last laid out (qv_picture_type), as in QVDecoder.h. */
enum { QV_PICTURE_TYPE_I = 1, QV_PICTURE_TYPE_P = 2, QV_PICTURE_TYPE_B = 3 };

/* Flags of the picture last laid out (qv_picture_info.flags), as in QVDecoder.h. */
enum {
    QV_PICTURE_KEY = 1,
    QV_PICTURE_DAMAGED = 2,
    QV_PICTURE_DRAINED = 4
};

/* Conversion engines (qv_set_converter), as in QVDecoder.h. */
enum {
    QV_CONVERTER_AUTO = 0,
    QV_CONVERTER_SWSCALE = 1
};

/* Colour matrix of a picture (qv_planes.colour), plus QV_COLOUR_FULL_RANGE, as in QVDecoder.h. */
enum {
    QV_COLOUR_BT601 = 0,
    QV_COLOUR_BT709 = 1,
    QV_COLOUR_BT2020 = 2,
    QV_COLOUR_SMPTE240M = 3,
    QV_COLOUR_FCC = 4,
    QV_COLOUR_FULL_RANGE = 0x100
};
#endif

/* Only the C interface answers with this code: a null handle or pointer, a negative length, a
   mode number out of range. */
#define QV_ERR_ARGUMENT (-10200)
/* An open on a handle that is open already: the handle keeps what it had; qv_close first. */
#define QV_ERR_ALREADY_OPEN (-10201)
/* A file-mode call (qv_decode_frame, qv_seek, qv_raw_frame, qv_raw_frame_size) on a handle
   opened for pushed frames. */
#define QV_ERR_NOT_FILE (-10202)

/* qv_picture_info.time_us of a stream-mode picture: pushed frames carry no time. */
#define QV_NO_TIME INT64_MIN

/* Codec numbers (the interface's numbering; any CodecID of QVDecoder.h is accepted). */
enum {
    QV_CODEC_MPEG1VIDEO = 1,
    QV_CODEC_MPEG2VIDEO = 2,
    QV_CODEC_H263 = 5,
    QV_CODEC_MJPEG = 8,
    QV_CODEC_MPEG4 = 13,
    QV_CODEC_WMV1 = 18,
    QV_CODEC_WMV2 = 19,
    QV_CODEC_FLV1 = 22,
    QV_CODEC_H264 = 28,
    QV_CODEC_VP8 = 146,
    QV_CODEC_PCM_S16LE = 65536,
    QV_CODEC_PCM_MULAW = 65542,
    QV_CODEC_PCM_ALAW = 65543,
    QV_CODEC_ADPCM_G726 = 69643,
    QV_CODEC_MP2 = 86016,
    QV_CODEC_MP3 = 86017,
    QV_CODEC_AAC = 86018,
    QV_CODEC_AC3 = 86019,
    QV_CODEC_G722 = 0x990000,        /* the library's own G.722 decoder */
    QV_CODEC_G7221 = 0x990001,       /* G.722.1 through libG7221.so */
    QV_CODEC_HEVC = 0x990100,
    QV_CODEC_VP9 = 0x990101,
    QV_CODEC_AV1 = 0x990102,
    QV_CODEC_FFMPEG_G722 = 0x990200, /* libavcodec's G.722 decoder */
    QV_CODEC_OPUS = 0x990201,
    QV_CODEC_G729 = 0x990202,
    QV_CODEC_G723_1 = 0x990203,
    QV_CODEC_ADPCM_G726LE = 0x990204
};

/* Pixel formats (the interface's numbering; any PixelFormat of QVDecoder.h is accepted).
   Pictures are laid out as contiguous planes without row padding. */
enum {
    QV_PIX_FMT_NONE = -1,
    QV_PIX_FMT_YUV420P = 0,
    QV_PIX_FMT_YUYV422 = 1,
    QV_PIX_FMT_RGB24 = 2,
    QV_PIX_FMT_BGR24 = 3,
    QV_PIX_FMT_YUV422P = 4,
    QV_PIX_FMT_YUV444P = 5,
    QV_PIX_FMT_YUV410P = 6,
    QV_PIX_FMT_YUV411P = 7,
    QV_PIX_FMT_GRAY8 = 8,
    QV_PIX_FMT_YUVJ420P = 12,
    QV_PIX_FMT_YUVJ422P = 13,
    QV_PIX_FMT_YUVJ444P = 14,
    QV_PIX_FMT_UYVY422 = 17,
    QV_PIX_FMT_NV12 = 25,
    QV_PIX_FMT_NV21 = 26,
    QV_PIX_FMT_ARGB = 27,
    QV_PIX_FMT_RGBA = 28,
    QV_PIX_FMT_ABGR = 29,
    QV_PIX_FMT_BGRA = 30,
    /* 10- and 12-bit pictures: 16-bit little-endian samples (PIX_FMT_QV_* of QVDecoder.h). */
    QV_PIX_FMT_YUV420P10LE = 0x990300,
    QV_PIX_FMT_YUV422P10LE = 0x990301,
    QV_PIX_FMT_YUV444P10LE = 0x990302,
    QV_PIX_FMT_YUV420P12LE = 0x990303,
    QV_PIX_FMT_YUV422P12LE = 0x990304,
    QV_PIX_FMT_YUV444P12LE = 0x990305,
    QV_PIX_FMT_GRAY10LE = 0x990306,
    QV_PIX_FMT_GRAY12LE = 0x990307,
    QV_PIX_FMT_GBRP10LE = 0x990308,
    QV_PIX_FMT_GBRP12LE = 0x990309
};

/* Modes (qv_set_param and the single setters): only the value 1 of each changes behaviour. */
enum {
    QV_CODE_MODE_FRAME = 0,
    QV_CODE_MODE_FIELD = 1,        /* two coded fields per frame */
    QV_TRANSFER_MODE_FRAME = 0,
    QV_TRANSFER_MODE_CHUNK = 1,    /* pushed units may end inside a picture */
    QV_OUTPUT_MODE_ALL = 0,
    QV_OUTPUT_MODE_KEY_FIRST = 1,  /* nothing before a key frame */
    QV_LATENCY_MODE_LOW = 0,       /* see latency_mode in QVDecoder.h */
    QV_LATENCY_MODE_COMPLETE = 1
};

typedef struct qv_decoder qv_decoder;

/* Same shape as FFmpeg's log callback; the library's own messages come with a null context
   and an empty argument list. FFmpeg keeps one callback for the whole process. */
typedef void (*qv_log_callback)(void* context, int level, const char* text, va_list args);

/* The picture last laid out by qv_push_video, qv_receive_video or qv_decode_frame. */
typedef struct qv_picture_info {
    const unsigned char* data; /* owned by the decoder, valid until its next call */
    int size;                  /* bytes at data */
    int width;
    int height;
    int format;                /* QV_PIX_FMT_* */
    int flags;                 /* QV_PICTURE_* */
    int64_t time_us;           /* file mode: the picture's time (qv_picture_time); stream mode: QV_NO_TIME */
} qv_picture_info;

/* The decoded picture's own planes (qv_video_planes), as the decoder left them: rows may be
   longer than the picture (linesize bytes apart); unused planes are NULL. */
typedef struct qv_planes {
    const unsigned char* data[4]; /* owned by the decoder, valid until its next decode call */
    int linesize[4];
    int width;
    int height;
    int format;                   /* QV_PIX_FMT_*, the decoded format */
    int flags;                    /* QV_PICTURE_* */
    int64_t time_us;              /* as in qv_picture_info */
    int colour;                   /* QV_COLOUR_* matrix, plus QV_COLOUR_FULL_RANGE (QVDecoder.h) */
} qv_planes;

/* What the decoder knows of its streams (QVGetParam). */
typedef struct qv_stream_info {
    int video_codec;           /* QV_CODEC_*, 0 when there is no video */
    int width;
    int height;                /* of the whole frame (both fields in field mode) */
    int format;                /* decoded pixel format, QV_PIX_FMT_* */
    int frame_rate_num;
    int frame_rate_den;
    int bit_rate;
    int audio_codec;           /* 0 when there is no audio */
    int sample_rate;
    int channels;
    int audio_bit_rate;
} qv_stream_info;

/* One compressed video frame copied out of a file (qv_raw_frame). */
typedef struct qv_raw_info {
    int header_length;         /* H.264: bytes up to and including the first slice's start code */
    int64_t timestamp_ms;      /* decoding time in milliseconds */
    int key;                   /* 1 for a key frame */
    int position;              /* byte position of the frame in the file */
} qv_raw_info;

/* Process set-up (QVDecoderInitialize / QVDecoderDestroy). qv_decoder_new calls qv_initialize
   itself; qv_shutdown belongs after the last handle is freed. */
QVDECODER_C_API void qv_initialize(void);
QVDECODER_C_API void qv_shutdown(void);

/* FFmpeg's own log lines go to stderr by default; FFmpeg keeps one callback for the whole
   process. This routes its lines of level (8 fatal, 16 error, 24 warning, 32 info) or more
   severe to callback, one whole line per call without its newline; NULL silences them. The
   last call of this or qv_set_log decides. The callback may run on decoding threads. */
typedef void (*qv_line_callback)(void* context, int level, const char* line);
QVDECODER_C_API void qv_set_ffmpeg_log(qv_line_callback callback, void* context, int level);

/* A new decoder, or NULL when memory ran out. */
QVDECODER_C_API qv_decoder* qv_decoder_new(void);
/* Closes and frees; NULL is ignored. */
QVDECODER_C_API void qv_decoder_free(qv_decoder* decoder);
/* Closes whatever is open; the handle and its output settings stay. */
QVDECODER_C_API int qv_close(qv_decoder* decoder);
QVDECODER_C_API int qv_set_log(qv_decoder* decoder, qv_log_callback callback, int level);

/* Modes; they take effect at the next open. */
QVDECODER_C_API int qv_set_param(qv_decoder* decoder, int code_mode, int transfer_mode, int output_mode);
QVDECODER_C_API int qv_set_encode_mode(qv_decoder* decoder, int code_mode);
QVDECODER_C_API int qv_set_stream_mode(qv_decoder* decoder, int transfer_mode);
QVDECODER_C_API int qv_set_output_mode(qv_decoder* decoder, int output_mode);
/* Demux 1 also turns chunked parsing on (QV_TRANSFER_MODE_CHUNK), as program streams split
   frames across packs: without it pictures are lost. A host whose packs each hold whole
   frames may call qv_set_stream_mode(decoder, QV_TRANSFER_MODE_FRAME) afterwards. */
QVDECODER_C_API int qv_set_demux(qv_decoder* decoder, int demux);
QVDECODER_C_API int qv_set_latency_mode(qv_decoder* decoder, int latency_mode);
/* 1 (default), 0 for one per core, or up to 64; see QVDecoderSetThreads. */
QVDECODER_C_API int qv_set_threads(qv_decoder* decoder, int count);
/* The largest decoded picture in pixels; 0 for the default (8192 x 4320), negative refused.
   See QVDecoderSetMaxPixels. */
QVDECODER_C_API int qv_set_max_pixels(qv_decoder* decoder, int64_t max_pixels);
/* 1: fast decoding for outputs much smaller than the picture, 0 (default): exact;
   QV_ERR_ARGUMENT otherwise. See QVDecoderSetFastDecode. */
QVDECODER_C_API int qv_set_fast_decode(qv_decoder* decoder, int on);
/* The streams the next qv_open_file decodes, by index in the file: -1 none, -2 the default
   choice; QV_ERR_ARGUMENT below -2. See QVDecoderSelectStreams. */
QVDECODER_C_API int qv_select_streams(qv_decoder* decoder, int video, int audio);
/* The limit in pixels qv_set_max_pixels set (8192 x 4320 by default), also the largest output
   size qv_set_output and qv_set_output_resolution take. */
QVDECODER_C_API int qv_max_pixels(qv_decoder* decoder, int64_t* max_pixels);
/* QV_CONVERTER_AUTO (default: libyuv where it covers the conversion) or QV_CONVERTER_SWSCALE;
   QV_ERR_ARGUMENT for anything else. See QVDecoderSetConverter. */
QVDECODER_C_API int qv_set_converter(qv_decoder* decoder, int engine);

/* Stream mode: open for pushed frames. format is the pushed pictures' pixel format
   (QV_PIX_FMT_YUV420P for the usual camera). A negative width or height is QV_ERR_ARGUMENT;
   a video or file open on an open handle is QV_ERR_ALREADY_OPEN and changes nothing (qv_close
   first); qv_open_audio replaces the audio decoder of an open handle. */
QVDECODER_C_API int qv_open_video(qv_decoder* decoder, int codec, int width, int height, int format);
QVDECODER_C_API int qv_open_audio(qv_decoder* decoder, int codec, int sample_rate, int channels,
                                  int bit_rate);
QVDECODER_C_API int qv_open_video_audio(qv_decoder* decoder, int video_codec, int width, int height,
                                        int format, int audio_codec, int sample_rate, int channels,
                                        int bit_rate);
QVDECODER_C_API int qv_set_picture_param(qv_decoder* decoder, int width, int height, int format);
/* One compressed frame (or program-stream pack with demux on). QV_OK when a picture was laid
   out, QV_FAILED when none came (yet), QV_ERR_ARGUMENT for bad arguments. The input is only
   read. repack 1 rebuilds H.264 NAL units first. */
QVDECODER_C_API int qv_push_video(qv_decoder* decoder, const unsigned char* data, int length, int repack);
/* The next picture the decoder holds, without new input: QV_OK with a picture, QV_FAILED when
   none is ready. Call it after every push until it fails. */
QVDECODER_C_API int qv_receive_video(qv_decoder* decoder);
/* End of stream: held pictures come out through qv_receive_video; then the decoder takes new
   input as from a fresh start. QV_FAILED when no stream-mode video decoder is open. */
QVDECODER_C_API int qv_flush_video(qv_decoder* decoder);
/* Audio code words or frames; the PCM comes from qv_audio. */
QVDECODER_C_API int qv_push_audio(qv_decoder* decoder, const unsigned char* data, int length);

/* Results. qv_picture: QV_ERR_NO_PICTURE while no picture has been laid out since the last open,
   close or output change. Its format is the one of the bytes at data (the output format while
   output conversion is on, else the decoded one). */
QVDECODER_C_API int qv_picture(qv_decoder* decoder, qv_picture_info* picture);
/* The same picture written straight into the caller's buffer of `size` bytes (converted there
   while output conversion is on: no copy follows the conversion); picture->data is then
   buffer. QV_ERR_BUFFER_TOO_SMALL writes nothing but fills picture->size (and the geometry)
   so that the caller can grow its buffer and call again; QV_ERR_NO_PICTURE as qv_picture;
   QV_ERR_ARGUMENT for a null buffer or picture or a negative size. */
QVDECODER_C_API int qv_picture_into(qv_decoder* decoder, unsigned char* buffer, int size, qv_picture_info* picture);
/* The last picture's own planes without a copy, when no output conversion is set: QV_OK,
   QV_ERR_NO_PICTURE as qv_picture, QV_FAILED while output conversion is on. */
QVDECODER_C_API int qv_video_planes(qv_decoder* decoder, qv_planes* planes);
/* QV_PICTURE_* flags of the picture last laid out (>= 0), or QV_ERR_ARGUMENT. */
QVDECODER_C_API int qv_picture_flags(qv_decoder* decoder);
/* Signed 16-bit interleaved PCM of the last decoded audio; *size is 0 when there is none. */
QVDECODER_C_API int qv_audio(qv_decoder* decoder, const unsigned char** data, int* size);
QVDECODER_C_API int qv_get_info(qv_decoder* decoder, qv_stream_info* info);

/* File mode. qv_decode_frame: QV_OK a picture, QV_AUDIO_PIECE a piece of audio,
   QV_ERR_NO_PICTURE a packet gave nothing, QV_ERR_OPEN_FILE a packet of another stream,
   QV_ERR_END_OF_FILE the end; QV_ERR_NOT_FILE on a handle opened for pushed frames. */
QVDECODER_C_API int qv_open_file(qv_decoder* decoder, const char* path);
/* Why the last qv_open_file failed, in words: FFmpeg's reason where it gave one ("moov atom not
   found", "No such file or directory", "Is a directory"), else the library's own message;
   passwords masked. "" after an open that succeeded, before any, and for a NULL handle; never
   NULL. Valid until the next qv_open_file or qv_decoder_free. */
QVDECODER_C_API const char* qv_open_error(qv_decoder* decoder);
QVDECODER_C_API int qv_decode_frame(qv_decoder* decoder);
/* Live sources (qv_open_file also takes rtsp://, rtp:// and .sdp files, http(s)://, srt://,
   udp:// and pipe:N; FIFOs too): every blocking open and read gives up after the timeout with
   QV_ERR_TIMEOUT (milliseconds, default 10000, 0 waits forever; local files are never cut
   short) and the next call goes on where it was; a source that fails gives
   QV_ERR_NETWORK. qv_set_network_option passes an option (rtsp_transport tcp|udp, user_agent,
   credentials, ...) to the next open; its value is never logged. qv_interrupt is the one call
   another thread may make while a call on the same handle runs: a blocked open returns
   QV_ERR_TIMEOUT at once, a blocked read once it waits on a quiet source (within 0.1 s; one
   getting bytes finishes its packet first, kept for the next call: nothing is lost); made
   while nothing waits, it ends the next such call (one call only). qv_picture_wallclock: the
   capture time of the picture last laid out in microseconds since the epoch, as the sender's
   reports state it, -1 when unknown. */
QVDECODER_C_API int qv_set_timeout(qv_decoder* decoder, int timeout_ms);
QVDECODER_C_API int qv_set_network_option(qv_decoder* decoder, const char* key, const char* value);
QVDECODER_C_API int qv_interrupt(qv_decoder* decoder);
QVDECODER_C_API int qv_picture_wallclock(qv_decoder* decoder, int64_t* time_us);
/* Microseconds from the arrival of the packet that completed the picture last handed out by
   qv_decode_frame to its hand-out; -1 before the first. */
QVDECODER_C_API int qv_picture_delay(qv_decoder* decoder, int64_t* delay_us);
/* Live sources: the oldest a picture handed out by qv_decode_frame may be, in milliseconds;
   older ones are passed over (or skipped to the next key frame) and the newest handed out.
   0 (the default) hands out every picture; negative: QV_ERR_ARGUMENT. See
   QVDecoderSetMaxLatency. qv_skipped_pictures: the pictures passed over since the open. */
QVDECODER_C_API int qv_set_max_latency(qv_decoder* decoder, int max_latency_ms);
QVDECODER_C_API int qv_skipped_pictures(qv_decoder* decoder, int64_t* count);
/* Time of the packet last handed to a decoder (video: its decoding time), in microseconds,
   by the classic arithmetic: see QVGetFrameTimestamp for when it differs from
   qv_picture_time by 1 us. */
QVDECODER_C_API int qv_frame_timestamp(qv_decoder* decoder, int64_t* time_us);
/* Presentation time of the picture last laid out, in microseconds on the same clock (file mode
   and live sources), -1 before a picture; qv_picture_info.time_us, seeks, qv_start_time and
   qv_duration are on this clock. See QVGetPictureTime. */
QVDECODER_C_API int qv_picture_time(qv_decoder* decoder, int64_t* time_us);
/* The next compressed video frame of an opened file (H.264 as Annex B) copied into buffer:
   its byte count, 0 at the end or when an H.264 or HEVC frame did not fit (the frame then
   waits for the next call: qv_raw_frame_size tells the size it needs), or a negative code.
   info may be NULL. Use a handle of its own for this: it reads the same packets as
   qv_decode_frame. */
QVDECODER_C_API int qv_raw_frame(qv_decoder* decoder, unsigned char* buffer, int size, qv_raw_info* info);
/* Bytes the next qv_raw_frame needs; 0 at the end of the file, QV_FAILED before a file is open. */
QVDECODER_C_API int qv_raw_frame_size(qv_decoder* decoder);
/* Moves an opened file to time_us (the clock of qv_picture_time): QV_SEEK_ACCURATE, the
   next picture is the first at or after it; QV_SEEK_KEY, the key frame at or before it. Before
   the start: the first picture; past the end: QV_ERR_END_OF_FILE next. QV_ERR_NOT_SEEKABLE for
   pipes and live sources (reading goes on where it was). See QVSeek. */
QVDECODER_C_API int qv_seek(qv_decoder* decoder, int64_t time_us, int flags);
/* QV_SKIP_NONE, QV_SKIP_NONREF (pictures nothing refers to are not decoded) or QV_SKIP_NONKEY
   (key frames only, the other packets are not decoded at all: thumbnail scans). */
QVDECODER_C_API int qv_set_frame_skip(qv_decoder* decoder, int mode);
/* The opened file's length in microseconds (the clock of qv_picture_time), -1 when the
   container does not know it. */
QVDECODER_C_API int qv_duration(qv_decoder* decoder, int64_t* duration_us);
/* The time of the opened file's first picture in microseconds (0 when unknown). */
QVDECODER_C_API int qv_start_time(qv_decoder* decoder, int64_t* start_us);
/* The video frames the opened file's container states, less those its edit list hides (never
   shown), -1 when it does not say. */
QVDECODER_C_API int qv_frame_count(qv_decoder* decoder, int64_t* frames);
/* The bit rate (bit/s) the opened file states for its decoded video or audio stream, -1 where
   it states none (qv_get_info's bit_rate stands in a default there). */
QVDECODER_C_API int qv_video_bit_rate(qv_decoder* decoder, int64_t* bit_rate);
QVDECODER_C_API int qv_audio_bit_rate(qv_decoder* decoder, int64_t* bit_rate);
/* QV_PICTURE_TYPE_I (1), _P (2), _B (3) of the picture last laid out, 0 for any other or
   before a picture (>= 0), or QV_ERR_ARGUMENT. */
QVDECODER_C_API int qv_picture_type(qv_decoder* decoder);
/* The sample aspect ratio of the picture last laid out, reduced: 1 with it, 0 with 1:1 when the
   stream does not say; QV_ERR_ARGUMENT for null pointers. */
QVDECODER_C_API int qv_picture_aspect(qv_decoder* decoder, int* num, int* den);
/* The clockwise turn in degrees (0, 90, 180, 270) that shows the picture last laid out
   upright, as its display matrix states it; 0 when nothing says and before a picture. See
   QVGetPictureRotation. */
QVDECODER_C_API int qv_picture_rotation(qv_decoder* decoder);

/* Output conversion: pictures come out at this size and pixel format from the next one on,
   and so does the picture already decoded: the next read of it (qv_picture, a snapshot)
   converts it with the new settings, whether it was read before or not; so does a change of
   qv_set_converter. 0 leaves a side to follow the picture; a negative size or one over the
   picture limit (qv_max_pixels) is QV_ERR_ARGUMENT and the previous output stays. */
QVDECODER_C_API int qv_set_output(qv_decoder* decoder, int width, int height, int format, int high_quality);
QVDECODER_C_API int qv_set_output_format(qv_decoder* decoder, int format, int high_quality);
QVDECODER_C_API int qv_set_output_resolution(qv_decoder* decoder, int width, int height, int high_quality);
QVDECODER_C_API int qv_output_resolution(qv_decoder* decoder, int* width, int* height);

/* BMP snapshots of the decoded picture (current) or the delivered one (output). */
QVDECODER_C_API int qv_save_current_image(qv_decoder* decoder, const char* path);
QVDECODER_C_API int qv_save_output_image(qv_decoder* decoder, const char* path);
QVDECODER_C_API int qv_save_picture(const char* path, const unsigned char* data, int width, int height,
                                    int format);
/* Packed BGR24 rows, first row at the bottom of the image. */
QVDECODER_C_API int qv_write_bmp(const char* path, const unsigned char* data, int width, int height);

/* Copies text into buffer (size bytes, terminated whenever size > 0) with every password masked
   as the library's log masks it ("scheme://user:password@" and the query fields password=,
   pwd=, passwd=, pass=, passphrase=; "******" whatever the password's length): for printing
   addresses. The length of the whole masked text (the buffer holds its start when that is size
   or more), or QV_ERR_ARGUMENT for a NULL text, a negative size or a NULL buffer with a positive size. */
QVDECODER_C_API int qv_mask_password(const char* text, char* buffer, int size);

/* One sentence about a result code; never NULL. */
QVDECODER_C_API const char* qv_strerror(int code);

#ifdef __cplusplus
}
#endif

#endif /* QVDECODER_C_H */
