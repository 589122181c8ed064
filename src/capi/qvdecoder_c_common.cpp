// The C interface: a handle around the public QVDecoder class, argument checks in front of
// every call, and no exception or C++ type crossing back to the caller. This file holds what
// both modes share: lifecycle, modes, the picture and its planes, output settings, snapshots
// and the result texts. Pushed streams are in qvdecoder_c_stream.cpp, files and live sources
// in qvdecoder_c_file.cpp.
#include "qvdecoder_c.h"

#include <cstdint>

#include "capi/handle.h"

// The C header spells out the C++ numbers for C callers; they must never drift apart.
namespace {

struct SameNumber {
    int c;
    int cpp;
};

constexpr SameNumber kSameNumbers[] = {
    {QV_CODEC_MPEG1VIDEO, CODEC_ID_MPEG1VIDEO}, {QV_CODEC_MPEG2VIDEO, CODEC_ID_MPEG2VIDEO},
    {QV_CODEC_H263, CODEC_ID_H263},             {QV_CODEC_MJPEG, CODEC_ID_MJPEG},
    {QV_CODEC_MPEG4, CODEC_ID_MPEG4},           {QV_CODEC_WMV1, CODEC_ID_WMV1},
    {QV_CODEC_WMV2, CODEC_ID_WMV2},             {QV_CODEC_FLV1, CODEC_ID_FLV1},
    {QV_CODEC_H264, CODEC_ID_H264},             {QV_CODEC_VP8, CODEC_ID_VP8},
    {QV_CODEC_PCM_S16LE, CODEC_ID_PCM_S16LE},   {QV_CODEC_PCM_MULAW, CODEC_ID_PCM_MULAW},
    {QV_CODEC_PCM_ALAW, CODEC_ID_PCM_ALAW},     {QV_CODEC_ADPCM_G726, CODEC_ID_ADPCM_G726},
    {QV_CODEC_MP2, CODEC_ID_MP2},               {QV_CODEC_MP3, CODEC_ID_MP3},
    {QV_CODEC_AAC, CODEC_ID_AAC},               {QV_CODEC_AC3, CODEC_ID_AC3},
    {QV_CODEC_G722, CODEC_ID_QV_G722},          {QV_CODEC_G7221, CODEC_ID_QV_G7221},
    {QV_CODEC_HEVC, CODEC_ID_QV_HEVC},          {QV_CODEC_VP9, CODEC_ID_QV_VP9},
    {QV_CODEC_AV1, CODEC_ID_QV_AV1},            {QV_CODEC_FFMPEG_G722, CODEC_ID_QV_FFMPEG_G722},
    {QV_CODEC_OPUS, CODEC_ID_QV_OPUS},          {QV_CODEC_G729, CODEC_ID_QV_G729},
    {QV_CODEC_G723_1, CODEC_ID_QV_G723_1},      {QV_CODEC_ADPCM_G726LE, CODEC_ID_QV_ADPCM_G726LE},
    {QV_PIX_FMT_NONE, PIX_FMT_NONE},            {QV_PIX_FMT_YUV420P, PIX_FMT_YUV420P},
    {QV_PIX_FMT_YUYV422, PIX_FMT_YUYV422},      {QV_PIX_FMT_RGB24, PIX_FMT_RGB24},
    {QV_PIX_FMT_BGR24, PIX_FMT_BGR24},          {QV_PIX_FMT_YUV422P, PIX_FMT_YUV422P},
    {QV_PIX_FMT_YUV444P, PIX_FMT_YUV444P},      {QV_PIX_FMT_YUV410P, PIX_FMT_YUV410P},
    {QV_PIX_FMT_YUV411P, PIX_FMT_YUV411P},      {QV_PIX_FMT_GRAY8, PIX_FMT_GRAY8},
    {QV_PIX_FMT_YUVJ420P, PIX_FMT_YUVJ420P},    {QV_PIX_FMT_YUVJ422P, PIX_FMT_YUVJ422P},
    {QV_PIX_FMT_YUVJ444P, PIX_FMT_YUVJ444P},    {QV_PIX_FMT_UYVY422, PIX_FMT_UYVY422},
    {QV_PIX_FMT_NV12, PIX_FMT_NV12},            {QV_PIX_FMT_NV21, PIX_FMT_NV21},
    {QV_PIX_FMT_ARGB, PIX_FMT_ARGB},            {QV_PIX_FMT_RGBA, PIX_FMT_RGBA},
    {QV_PIX_FMT_ABGR, PIX_FMT_ABGR},            {QV_PIX_FMT_BGRA, PIX_FMT_BGRA},
    {QV_CODE_MODE_FRAME, CODE_MODE_FRAME},      {QV_CODE_MODE_FIELD, CODE_MODE_FIELD},
    {QV_TRANSFER_MODE_FRAME, TRANSFER_MODE_FRAME}, {QV_TRANSFER_MODE_CHUNK, TRANSFER_MODE_CHUNK},
    {QV_OUTPUT_MODE_ALL, OUTPUT_MODE_ALL},      {QV_OUTPUT_MODE_KEY_FIRST, OUTPUT_MODE_KEY_FIRST},
    {QV_LATENCY_MODE_LOW, LATENCY_MODE_LOW},    {QV_LATENCY_MODE_COMPLETE, LATENCY_MODE_COMPLETE},
};

constexpr bool AllSame() {
    for (const SameNumber& n : kSameNumbers) {
        if (n.c != n.cpp) return false;
    }
    return true;
}
static_assert(AllSame(), "a number of qvdecoder_c.h differs from QVDecoder.h");

}  // namespace

using namespace qv_c;

extern "C" {

void qv_initialize(void) { QVDecoderInitialize(); }

void qv_shutdown(void) { QVDecoderDestroy(); }

void qv_set_ffmpeg_log(qv_line_callback callback, void* context, int level) {
    QVDecoderSetFFmpegLog(callback, context, level);
}

qv_decoder* qv_decoder_new(void) {
    try {
        QVDecoderInitialize();
        return new qv_decoder();
    } catch (...) {
        return nullptr;
    }
}

void qv_decoder_free(qv_decoder* decoder) {
    try {
        delete decoder;
    } catch (...) {
    }
}

int qv_close(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int {
        d.object.QVClose();
        return Opened(d, qv_decoder::Mode::kNone, QV_OK);
    });
}

int qv_set_log(qv_decoder* decoder, qv_log_callback callback, int level) {
    return Guarded(decoder, [&](qv_decoder& d) -> int { return d.object.QVDecoderRegisterLog(callback, level); });
}

int qv_set_param(qv_decoder* decoder, int code_mode, int transfer_mode, int output_mode) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!ValidMode(code_mode) || !ValidMode(transfer_mode) || !ValidMode(output_mode)) {
            return QV_ERR_ARGUMENT;
        }
        return d.object.QVDecoderSetParam(_decoder_param{static_cast<enum code_mode>(code_mode),
                                                         static_cast<enum transfer_mode>(transfer_mode),
                                                         static_cast<enum output_mode>(output_mode)});
    });
}

int qv_set_encode_mode(qv_decoder* decoder, int code_mode) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!ValidMode(code_mode)) return QV_ERR_ARGUMENT;
        return d.object.QVDecoderSetEncodeMode(static_cast<enum code_mode>(code_mode));
    });
}

int qv_set_stream_mode(qv_decoder* decoder, int transfer_mode) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!ValidMode(transfer_mode)) return QV_ERR_ARGUMENT;
        return d.object.QVDecoderSetStreamMode(static_cast<enum transfer_mode>(transfer_mode));
    });
}

int qv_set_output_mode(qv_decoder* decoder, int output_mode) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!ValidMode(output_mode)) return QV_ERR_ARGUMENT;
        return d.object.QVDecoderSetOutputMode(static_cast<enum output_mode>(output_mode));
    });
}

int qv_set_demux(qv_decoder* decoder, int demux) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        const int result = d.object.QVDecoderSetDemux(demux);
        // Packs split frames: only the chunked parser puts them together again.
        if (result == QV_OK && demux == 1) return d.object.QVDecoderSetStreamMode(TRANSFER_MODE_CHUNK);
        return result;
    });
}

int qv_set_latency_mode(qv_decoder* decoder, int latency_mode) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!ValidMode(latency_mode)) return QV_ERR_ARGUMENT;
        return d.object.QVDecoderSetLatencyMode(static_cast<enum latency_mode>(latency_mode));
    });
}

int qv_set_threads(qv_decoder* decoder, int count) {
    return Guarded(decoder, [&](qv_decoder& d) -> int { return d.object.QVDecoderSetThreads(count); });
}

int qv_set_max_pixels(qv_decoder* decoder, int64_t max_pixels) {
    return Guarded(decoder, [&](qv_decoder& d) -> int { return d.object.QVDecoderSetMaxPixels(max_pixels); });
}

int qv_set_fast_decode(qv_decoder* decoder, int on) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        return d.object.QVDecoderSetFastDecode(on) < 0 ? QV_ERR_ARGUMENT : QV_OK;
    });
}

int qv_select_streams(qv_decoder* decoder, int video, int audio) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        return d.object.QVDecoderSelectStreams(video, audio) < 0 ? QV_ERR_ARGUMENT : QV_OK;
    });
}

int qv_max_pixels(qv_decoder* decoder, int64_t* max_pixels) {
    return Answer(decoder, max_pixels, [](qv_decoder& d) { return d.object.QVGetMaxPixels(); });
}

int qv_set_converter(qv_decoder* decoder, int engine) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        return d.object.QVDecoderSetConverter(engine) < 0 ? QV_ERR_ARGUMENT : QV_OK;
    });
}

namespace {

// What qv_picture and qv_picture_into tell of the picture last laid out, bytes aside.
void DescribePicture(qv_decoder& d, int size, qv_picture_info* picture) {
    picture->size = size;
    d.object.QVGetOutputResolution(picture->width, picture->height);
    picture->format = d.object.QVGetOutputFormat();
    picture->flags = d.object.QVGetPictureFlags();
    if (d.mode == qv_decoder::Mode::kFile) picture->time_us = d.object.QVGetPictureTime();
}

}  // namespace

int qv_picture(qv_decoder* decoder, qv_picture_info* picture) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!picture) return QV_ERR_ARGUMENT;
        *picture = qv_picture_info{nullptr, 0, 0, 0, QV_PIX_FMT_NONE, 0, QV_NO_TIME};
        const unsigned char* data = d.object.QVGetVideoFrame();
        const int size = d.object.QVGetVideoFrameSize();
        if (!d.has_picture || !data || size <= 0) return QV_ERR_NO_PICTURE;
        picture->data = data;
        DescribePicture(d, size, picture);
        return QV_OK;
    });
}

int qv_picture_into(qv_decoder* decoder, unsigned char* buffer, int size, qv_picture_info* picture) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!picture || !buffer || size < 0) return QV_ERR_ARGUMENT;
        *picture = qv_picture_info{nullptr, 0, 0, 0, QV_PIX_FMT_NONE, 0, QV_NO_TIME};
        const int needed = d.object.QVGetVideoFrameSize();
        if (!d.has_picture || needed <= 0) return QV_ERR_NO_PICTURE;
        DescribePicture(d, needed, picture);
        const int written = d.object.QVGetVideoFrameInto(buffer, size);
        if (written == QV_ERR_BUFFER_TOO_SMALL) return written;
        if (written != needed) return QV_ERR_NO_PICTURE;
        picture->data = buffer;
        return QV_OK;
    });
}

int qv_video_planes(qv_decoder* decoder, qv_planes* planes) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!planes) return QV_ERR_ARGUMENT;
        *planes = qv_planes{{}, {}, 0, 0, QV_PIX_FMT_NONE, 0, QV_NO_TIME, 0};
        if (!d.has_picture) return QV_ERR_NO_PICTURE;
        unsigned char* data[4] = {};
        if (d.object.QVGetVideoPlanes(data, planes->linesize) < 0) return QV_FAILED;
        _video_param param{};
        d.object.QVGetParam(param);
        for (int i = 0; i < 4; ++i) planes->data[i] = data[i];
        planes->width = param.width;
        planes->height = param.height;
        planes->format = param.pix_fmt;
        planes->flags = d.object.QVGetPictureFlags();
        planes->colour = d.object.QVGetPictureColour();
        if (d.mode == qv_decoder::Mode::kFile) planes->time_us = d.object.QVGetPictureTime();
        return QV_OK;
    });
}

int qv_picture_flags(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int { return d.object.QVGetPictureFlags(); });
}

int qv_picture_type(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int { return d.has_picture ? d.object.QVGetPictureType() : 0; });
}

int qv_picture_aspect(qv_decoder* decoder, int* num, int* den) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!num || !den) return QV_ERR_ARGUMENT;
        if (!d.has_picture) {
            *num = *den = 1;
            return 0;
        }
        return d.object.QVGetPictureAspect(*num, *den);
    });
}

int qv_picture_rotation(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int { return d.has_picture ? d.object.QVGetPictureRotation() : 0; });
}

int qv_get_info(qv_decoder* decoder, qv_stream_info* info) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!info) return QV_ERR_ARGUMENT;
        _video_param p{};
        const int result = d.object.QVGetParam(p);
        *info = qv_stream_info{p.codec_id,       p.width,          p.height,   p.pix_fmt,
                               p.frame_rate_num, p.frame_rate_den, p.bit_rate, p.audio_codec_id,
                               p.sample_rate,    p.channels,       p.audio_bit_rate};
        return result;
    });
}

int qv_set_output(qv_decoder* decoder, int width, int height, int format, int high_quality) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        // The object refuses such a size (with its level-15 message) and keeps its output.
        const bool refused = !OutputSizeFits(d, width, height);
        d.object.QVSetOutput(_picture_param{width, height, static_cast<PixelFormat>(format)},
                             high_quality ? 1 : 0);
        // The picture already decoded stays, converted anew at its next read.
        return refused ? QV_ERR_ARGUMENT : QV_OK;
    });
}

int qv_set_output_format(qv_decoder* decoder, int format, int high_quality) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        d.object.QVSetOutputFormat(static_cast<PixelFormat>(format), high_quality ? 1 : 0);
        return QV_OK;
    });
}

int qv_set_output_resolution(qv_decoder* decoder, int width, int height, int high_quality) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        const bool refused = !OutputSizeFits(d, width, height);
        d.object.QVSetOutputResolution(width, height, high_quality ? 1 : 0);
        // The picture already decoded stays, converted anew at its next read.
        return refused ? QV_ERR_ARGUMENT : QV_OK;
    });
}

int qv_output_resolution(qv_decoder* decoder, int* width, int* height) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!width || !height) return QV_ERR_ARGUMENT;
        d.object.QVGetOutputResolution(*width, *height);
        return QV_OK;
    });
}

int qv_save_current_image(qv_decoder* decoder, const char* path) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!path) return QV_ERR_ARGUMENT;
        return d.object.QVSaveCurrentImage(path);
    });
}

int qv_save_output_image(qv_decoder* decoder, const char* path) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!path) return QV_ERR_ARGUMENT;
        return d.object.QVSaveOutputImage(path);
    });
}

int qv_save_picture(const char* path, const unsigned char* data, int width, int height, int format) {
    if (!path || !data) return QV_ERR_ARGUMENT;
    try {
        return SavePicture(path, const_cast<unsigned char*>(data), width, height,
                           static_cast<PixelFormat>(format));
    } catch (...) {
        return QV_FAILED;
    }
}

int qv_write_bmp(const char* path, const unsigned char* data, int width, int height) {
    if (!path || !data) return QV_ERR_ARGUMENT;
    try {
        return WriteBmpFile(path, const_cast<unsigned char*>(data), width, height);
    } catch (...) {
        return QV_FAILED;
    }
}

int qv_mask_password(const char* text, char* buffer, int size) {
    if (!text || size < 0 || (size > 0 && !buffer)) return QV_ERR_ARGUMENT;
    return QVDecoder::QVMaskPassword(text, buffer, size);
}

const char* qv_strerror(int code) {
    switch (code) {
        case QV_OK: return "Success.";
        case QV_AUDIO_PIECE: return "A piece of an audio packet was decoded.";
        case QV_FAILED: return "The call failed, or a pushed frame gave no picture yet.";
        // What a host shows after a failed open; a decode call's packet of another stream is
        // passed over by every loop and never shown.
        case QV_ERR_OPEN_FILE: return "The file cannot be opened.";
        case QV_ERR_NO_PICTURE: return "A packet was read but gave no picture or audio.";
        case QV_ERR_END_OF_FILE: return "The end of the file was reached.";
        case QV_ERR_BAD_DATA: return "The data cannot be used.";
        case QV_ERR_NO_MEMORY: return "Out of memory.";
        case QV_ERR_NO_DECODER: return "No decoder for the codec.";
        case QV_ERR_NOT_OPEN: return "The decoder is not open.";
        case QV_ERR_TIMEOUT: return "The source gave nothing within the timeout, or the call was interrupted.";
        case QV_ERR_NETWORK: return "The source cannot be reached or failed.";
        case QV_ERR_BUFFER_TOO_SMALL: return "The buffer is smaller than the picture; nothing was written.";
        case QV_ERR_NOT_SEEKABLE: return "The input cannot seek (a pipe or a live source).";
        case QV_ERR_AUDIO_OPEN: return "The combined open failed in its audio half.";
        case QV_ERR_ARGUMENT: return "A null handle or pointer, a negative length or a mode out of range was passed.";
        case QV_ERR_ALREADY_OPEN: return "The decoder is open already; close it before opening it again.";
        case QV_ERR_NOT_FILE: return "The decoder is open for pushed frames, not for a file.";
        default: return "Unknown result code.";
    }
}

}  // extern "C"
