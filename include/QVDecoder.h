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
    QV_ERR_AUDIO_OPEN = -10100,   // the combined open failed in its audio half
};

// Codec numbers of the interface (the old libavcodec numbering; H.264 is 28) and the
// library's own ids from 0x990000 on.
enum CodecID : int {
    CODEC_ID_NONE = 0,
    CODEC_ID_MPEG1VIDEO = 1,
    CODEC_ID_MPEG2VIDEO = 2,
    CODEC_ID_MPEG2VIDEO_XVMC = 3,
    CODEC_ID_H261 = 4,
    CODEC_ID_H263 = 5,
    CODEC_ID_RV10 = 6,
    CODEC_ID_RV20 = 7,
    CODEC_ID_MJPEG = 8,
    CODEC_ID_MJPEGB = 9,
    CODEC_ID_LJPEG = 10,
    CODEC_ID_SP5X = 11,
    CODEC_ID_JPEGLS = 12,
    CODEC_ID_MPEG4 = 13,
    CODEC_ID_RAWVIDEO = 14,
    CODEC_ID_MSMPEG4V1 = 15,
    CODEC_ID_MSMPEG4V2 = 16,
    CODEC_ID_MSMPEG4V3 = 17,
    CODEC_ID_WMV1 = 18,
    CODEC_ID_WMV2 = 19,
    CODEC_ID_H263P = 20,
    CODEC_ID_H263I = 21,
    CODEC_ID_FLV1 = 22,
    CODEC_ID_SVQ1 = 23,
    CODEC_ID_SVQ3 = 24,
    CODEC_ID_DVVIDEO = 25,
    CODEC_ID_HUFFYUV = 26,
    CODEC_ID_CYUV = 27,
    CODEC_ID_H264 = 28,
    CODEC_ID_INDEO3 = 29,
    CODEC_ID_VP3 = 30,
    CODEC_ID_THEORA = 31,
    CODEC_ID_ASV1 = 32,
    CODEC_ID_ASV2 = 33,
    CODEC_ID_FFV1 = 34,
    CODEC_ID_4XM = 35,
    CODEC_ID_VCR1 = 36,
    CODEC_ID_CLJR = 37,
    CODEC_ID_MDEC = 38,
    CODEC_ID_ROQ = 39,
    CODEC_ID_INTERPLAY_VIDEO = 40,
    CODEC_ID_XAN_WC3 = 41,
    CODEC_ID_XAN_WC4 = 42,
    CODEC_ID_RPZA = 43,
    CODEC_ID_CINEPAK = 44,
    CODEC_ID_WS_VQA = 45,
    CODEC_ID_MSRLE = 46,
    CODEC_ID_MSVIDEO1 = 47,
    CODEC_ID_IDCIN = 48,
    CODEC_ID_8BPS = 49,
    CODEC_ID_SMC = 50,
    CODEC_ID_FLIC = 51,
    CODEC_ID_TRUEMOTION1 = 52,
    CODEC_ID_VMDVIDEO = 53,
    CODEC_ID_MSZH = 54,
    CODEC_ID_ZLIB = 55,
    CODEC_ID_QTRLE = 56,
    CODEC_ID_SNOW = 57,
    CODEC_ID_TSCC = 58,
    CODEC_ID_ULTI = 59,
    CODEC_ID_QDRAW = 60,
    CODEC_ID_VIXL = 61,
    CODEC_ID_QPEG = 62,
    CODEC_ID_XVID = 63,
    CODEC_ID_PNG = 64,
    CODEC_ID_PPM = 65,
    CODEC_ID_PBM = 66,
    CODEC_ID_PGM = 67,
    CODEC_ID_PGMYUV = 68,
    CODEC_ID_PAM = 69,
    CODEC_ID_FFVHUFF = 70,
    CODEC_ID_RV30 = 71,
    CODEC_ID_RV40 = 72,
    CODEC_ID_VC1 = 73,
    CODEC_ID_WMV3 = 74,
    CODEC_ID_LOCO = 75,
    CODEC_ID_WNV1 = 76,
    CODEC_ID_AASC = 77,
    CODEC_ID_INDEO2 = 78,
    CODEC_ID_FRAPS = 79,
    CODEC_ID_TRUEMOTION2 = 80,
    CODEC_ID_BMP = 81,
    CODEC_ID_CSCD = 82,
    CODEC_ID_MMVIDEO = 83,
    CODEC_ID_ZMBV = 84,
    CODEC_ID_AVS = 85,
    CODEC_ID_SMACKVIDEO = 86,
    CODEC_ID_NUV = 87,
    CODEC_ID_KMVC = 88,
    CODEC_ID_FLASHSV = 89,
    CODEC_ID_CAVS = 90,
    CODEC_ID_JPEG2000 = 91,
    CODEC_ID_VMNC = 92,
    CODEC_ID_VP5 = 93,
    CODEC_ID_VP6 = 94,
    CODEC_ID_VP6F = 95,
    CODEC_ID_TARGA = 96,
    CODEC_ID_DSICINVIDEO = 97,
    CODEC_ID_TIERTEXSEQVIDEO = 98,
    CODEC_ID_TIFF = 99,
    CODEC_ID_GIF = 100,
    CODEC_ID_FFH264 = 101,
    CODEC_ID_DXA = 102,
    CODEC_ID_DNXHD = 103,
    CODEC_ID_THP = 104,
    CODEC_ID_SGI = 105,
    CODEC_ID_C93 = 106,
    CODEC_ID_BETHSOFTVID = 107,
    CODEC_ID_PTX = 108,
    CODEC_ID_TXD = 109,
    CODEC_ID_VP6A = 110,
    CODEC_ID_AMV = 111,
    CODEC_ID_VB = 112,
    CODEC_ID_PCX = 113,
    CODEC_ID_SUNRAST = 114,
    CODEC_ID_INDEO4 = 115,
    CODEC_ID_INDEO5 = 116,
    CODEC_ID_MIMIC = 117,
    CODEC_ID_RL2 = 118,
    CODEC_ID_8SVX_EXP = 119,
    CODEC_ID_8SVX_FIB = 120,
    CODEC_ID_ESCAPE124 = 121,
    CODEC_ID_DIRAC = 122,
    CODEC_ID_BFI = 123,
    CODEC_ID_CMV = 124,
    CODEC_ID_MOTIONPIXELS = 125,
    CODEC_ID_TGV = 126,
    CODEC_ID_TGQ = 127,
    CODEC_ID_TQI = 128,
    CODEC_ID_AURA = 129,
    CODEC_ID_AURA2 = 130,
    CODEC_ID_V210X = 131,
    CODEC_ID_TMV = 132,
    CODEC_ID_V210 = 133,
    CODEC_ID_DPX = 134,
    CODEC_ID_MAD = 135,
    CODEC_ID_FRWU = 136,
    CODEC_ID_FLASHSV2 = 137,
    CODEC_ID_CDGRAPHICS = 138,
    CODEC_ID_R210 = 139,
    CODEC_ID_ANM = 140,
    CODEC_ID_BINKVIDEO = 141,
    CODEC_ID_IFF_ILBM = 142,
    CODEC_ID_IFF_BYTERUN1 = 143,
    CODEC_ID_KGV1 = 144,
    CODEC_ID_YOP = 145,
    CODEC_ID_VP8 = 146,
    CODEC_ID_PCM_S16LE = 65536,
    CODEC_ID_PCM_S16BE = 65537,
    CODEC_ID_PCM_U16LE = 65538,
    CODEC_ID_PCM_U16BE = 65539,
    CODEC_ID_PCM_S8 = 65540,
    CODEC_ID_PCM_U8 = 65541,
    CODEC_ID_PCM_MULAW = 65542,
    CODEC_ID_PCM_ALAW = 65543,
    CODEC_ID_PCM_S32LE = 65544,
    CODEC_ID_PCM_S32BE = 65545,
    CODEC_ID_PCM_U32LE = 65546,
    CODEC_ID_PCM_U32BE = 65547,
    CODEC_ID_PCM_S24LE = 65548,
    CODEC_ID_PCM_S24BE = 65549,
    CODEC_ID_PCM_U24LE = 65550,
    CODEC_ID_PCM_U24BE = 65551,
    CODEC_ID_PCM_S24DAUD = 65552,
    CODEC_ID_PCM_ZORK = 65553,
    CODEC_ID_PCM_S16LE_PLANAR = 65554,
    CODEC_ID_PCM_DVD = 65555,
    CODEC_ID_PCM_F32BE = 65556,
    CODEC_ID_PCM_F32LE = 65557,
    CODEC_ID_PCM_F64BE = 65558,
    CODEC_ID_PCM_F64LE = 65559,
    CODEC_ID_PCM_BLURAY = 65560,
    CODEC_ID_ADPCM_IMA_QT = 69632,
    CODEC_ID_ADPCM_IMA_WAV = 69633,
    CODEC_ID_ADPCM_IMA_DK3 = 69634,
    CODEC_ID_ADPCM_IMA_DK4 = 69635,
    CODEC_ID_ADPCM_IMA_WS = 69636,
    CODEC_ID_ADPCM_IMA_SMJPEG = 69637,
    CODEC_ID_ADPCM_MS = 69638,
    CODEC_ID_ADPCM_4XM = 69639,
    CODEC_ID_ADPCM_XA = 69640,
    CODEC_ID_ADPCM_ADX = 69641,
    CODEC_ID_ADPCM_EA = 69642,
    CODEC_ID_ADPCM_G726 = 69643,
    CODEC_ID_ADPCM_CT = 69644,
    CODEC_ID_ADPCM_SWF = 69645,
    CODEC_ID_ADPCM_YAMAHA = 69646,
    CODEC_ID_ADPCM_SBPRO_4 = 69647,
    CODEC_ID_ADPCM_SBPRO_3 = 69648,
    CODEC_ID_ADPCM_SBPRO_2 = 69649,
    CODEC_ID_ADPCM_THP = 69650,
    CODEC_ID_ADPCM_IMA_AMV = 69651,
    CODEC_ID_ADPCM_EA_R1 = 69652,
    CODEC_ID_ADPCM_EA_R3 = 69653,
    CODEC_ID_ADPCM_EA_R2 = 69654,
    CODEC_ID_ADPCM_IMA_EA_SEAD = 69655,
    CODEC_ID_ADPCM_IMA_EA_EACS = 69656,
    CODEC_ID_ADPCM_EA_XAS = 69657,
    CODEC_ID_ADPCM_EA_MAXIS_XA = 69658,
    CODEC_ID_ADPCM_IMA_ISS = 69659,
    CODEC_ID_AMR_NB = 73728,
    CODEC_ID_AMR_WB = 73729,
    CODEC_ID_RA_144 = 77824,
    CODEC_ID_RA_288 = 77825,
    CODEC_ID_ROQ_DPCM = 81920,
    CODEC_ID_INTERPLAY_DPCM = 81921,
    CODEC_ID_XAN_DPCM = 81922,
    CODEC_ID_SOL_DPCM = 81923,
    CODEC_ID_MP2 = 86016,
    CODEC_ID_MP3 = 86017,
    CODEC_ID_AAC = 86018,
    CODEC_ID_AC3 = 86019,
    CODEC_ID_DTS = 86020,
    CODEC_ID_VORBIS = 86021,
    CODEC_ID_DVAUDIO = 86022,
    CODEC_ID_WMAV1 = 86023,
    CODEC_ID_WMAV2 = 86024,
    CODEC_ID_MACE3 = 86025,
    CODEC_ID_MACE6 = 86026,
    CODEC_ID_VMDAUDIO = 86027,
    CODEC_ID_SONIC = 86028,
    CODEC_ID_SONIC_LS = 86029,
    CODEC_ID_FLAC = 86030,
    CODEC_ID_MP3ADU = 86031,
    CODEC_ID_MP3ON4 = 86032,
    CODEC_ID_SHORTEN = 86033,
    CODEC_ID_ALAC = 86034,
    CODEC_ID_WESTWOOD_SND1 = 86035,
    CODEC_ID_GSM = 86036,
    CODEC_ID_QDM2 = 86037,
    CODEC_ID_COOK = 86038,
    CODEC_ID_TRUESPEECH = 86039,
    CODEC_ID_TTA = 86040,
    CODEC_ID_SMACKAUDIO = 86041,
    CODEC_ID_QCELP = 86042,
    CODEC_ID_WAVPACK = 86043,
    CODEC_ID_DSICINAUDIO = 86044,
    CODEC_ID_IMC = 86045,
    CODEC_ID_MUSEPACK7 = 86046,
    CODEC_ID_MLP = 86047,
    CODEC_ID_GSM_MS = 86048,
    CODEC_ID_ATRAC3 = 86049,
    CODEC_ID_VOXWARE = 86050,
    CODEC_ID_APE = 86051,
    CODEC_ID_NELLYMOSER = 86052,
    CODEC_ID_MUSEPACK8 = 86053,
    CODEC_ID_SPEEX = 86054,
    CODEC_ID_WMAVOICE = 86055,
    CODEC_ID_WMAPRO = 86056,
    CODEC_ID_WMALOSSLESS = 86057,
    CODEC_ID_ATRAC3P = 86058,
    CODEC_ID_EAC3 = 86059,
    CODEC_ID_SIPR = 86060,
    CODEC_ID_MP1 = 86061,
    CODEC_ID_TWINVQ = 86062,
    CODEC_ID_TRUEHD = 86063,
    CODEC_ID_MP4ALS = 86064,
    CODEC_ID_ATRAC1 = 86065,
    CODEC_ID_BINKAUDIO_RDFT = 86066,
    CODEC_ID_BINKAUDIO_DCT = 86067,
    CODEC_ID_DVD_SUBTITLE = 94208,
    CODEC_ID_DVB_SUBTITLE = 94209,
    CODEC_ID_TEXT = 94210,
    CODEC_ID_XSUB = 94211,
    CODEC_ID_SSA = 94212,
    CODEC_ID_MOV_TEXT = 94213,
    CODEC_ID_HDMV_PGS_SUBTITLE = 94214,
    CODEC_ID_DVB_TELETEXT = 94215,
    CODEC_ID_TTF = 98304,
    CODEC_ID_PROBE = 102400,
    CODEC_ID_MPEG2TS = 131072,
    CODEC_ID_QV_G722 = 0x990000,   // the library's own G.722 decoder
    CODEC_ID_QV_G7221 = 0x990001,  // G.722.1 through libG7221.so
    CODEC_ID_QV_HEVC = 0x990100,
    CODEC_ID_QV_VP9 = 0x990101,
    CODEC_ID_QV_AV1 = 0x990102,
    CODEC_ID_QV_FFMPEG_G722 = 0x990200,
    CODEC_ID_QV_OPUS = 0x990201,
    CODEC_ID_QV_G729 = 0x990202,
    CODEC_ID_QV_G723_1 = 0x990203,
    CODEC_ID_QV_ADPCM_G726LE = 0x990204,
};

enum PixelFormat : int {
    PIX_FMT_NONE = -1,
    PIX_FMT_YUV420P = 0,
    PIX_FMT_YUYV422 = 1,
    PIX_FMT_RGB24 = 2,
    PIX_FMT_BGR24 = 3,
    PIX_FMT_YUV422P = 4,
    PIX_FMT_YUV444P = 5,
    PIX_FMT_YUV410P = 6,
    PIX_FMT_YUV411P = 7,
    PIX_FMT_GRAY8 = 8,
    PIX_FMT_MONOWHITE = 9,
    PIX_FMT_MONOBLACK = 10,
    PIX_FMT_PAL8 = 11,
    PIX_FMT_YUVJ420P = 12,
    PIX_FMT_YUVJ422P = 13,
    PIX_FMT_YUVJ444P = 14,
    PIX_FMT_XVMC_MPEG2_MC = 15,
    PIX_FMT_XVMC_MPEG2_IDCT = 16,
    PIX_FMT_UYVY422 = 17,
    PIX_FMT_UYYVYY411 = 18,
    PIX_FMT_BGR8 = 19,
    PIX_FMT_BGR4 = 20,
    PIX_FMT_BGR4_BYTE = 21,
    PIX_FMT_RGB8 = 22,
    PIX_FMT_RGB4 = 23,
    PIX_FMT_RGB4_BYTE = 24,
    PIX_FMT_NV12 = 25,
    PIX_FMT_NV21 = 26,
    PIX_FMT_ARGB = 27,
    PIX_FMT_RGBA = 28,
    PIX_FMT_ABGR = 29,
    PIX_FMT_BGRA = 30,
    PIX_FMT_GRAY16BE = 31,
    PIX_FMT_GRAY16LE = 32,
    PIX_FMT_YUV440P = 33,
    PIX_FMT_YUVJ440P = 34,
    PIX_FMT_YUVA420P = 35,
    PIX_FMT_VDPAU_H264 = 36,
    PIX_FMT_VDPAU_MPEG1 = 37,
    PIX_FMT_VDPAU_MPEG2 = 38,
    PIX_FMT_VDPAU_WMV3 = 39,
    PIX_FMT_VDPAU_VC1 = 40,
    PIX_FMT_RGB48BE = 41,
    PIX_FMT_RGB48LE = 42,
    PIX_FMT_RGB565BE = 43,
    PIX_FMT_RGB565LE = 44,
    PIX_FMT_RGB555BE = 45,
    PIX_FMT_RGB555LE = 46,
    PIX_FMT_BGR565BE = 47,
    PIX_FMT_BGR565LE = 48,
    PIX_FMT_BGR555BE = 49,
    PIX_FMT_BGR555LE = 50,
    PIX_FMT_VAAPI_MOCO = 51,
    PIX_FMT_VAAPI_IDCT = 52,
    PIX_FMT_VAAPI_VLD = 53,
    PIX_FMT_YUV420P16LE = 54,
    PIX_FMT_YUV420P16BE = 55,
    PIX_FMT_YUV422P16LE = 56,
    PIX_FMT_YUV422P16BE = 57,
    PIX_FMT_YUV444P16LE = 58,
    PIX_FMT_YUV444P16BE = 59,
    PIX_FMT_VDPAU_MPEG4 = 60,
    PIX_FMT_DXVA2_VLD = 61,
    PIX_FMT_RGB444BE = 62,
    PIX_FMT_RGB444LE = 63,
    PIX_FMT_BGR444BE = 64,
    PIX_FMT_BGR444LE = 65,
    PIX_FMT_Y400A = 66,
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
// Saves a picture as a 24-bit BMP file; format uses the interface numbering.
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
    int QVDecoderSetDemux(int demux);

    // Stream mode.
    // Pushed bytes are copied into a padded buffer of the object (reused from call to call),
    // so the host's buffer is never read past its length. A null pointer or a length <= 0
    // gives -1 without touching the decoder. With demultiplexing, only video PES packets
    // (stream ids 0xE0 to 0xEF) make up the picture; audio in the same pack is stepped over.
    // With TRANSFER_MODE_CHUNK, libavcodec's parser cuts the pushed bytes into whole frames;
    // frames the decoder cannot take yet wait on the object, in order, and the further
    // pictures come out of QVReceiveVideoFrame.
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

    struct Impl;  // the implementation; opaque to hosts

private:
    friend struct QVDecoderInternals;  // the library's own tests reach the parts through it
    std::unique_ptr<Impl> impl_;
};

#endif  // QVDECODER_H
