// Construction, closing, moving and logging of the decoder object.
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/decoder_impl.h"
#include "bitstream/demux_buffer.h"
#include "core/ffmpeg.h"
#include "core/legacy_ids.h"
#include "core/library.h"
#include "g722/g722_decoder.h"
#include "snapshot/snapshot_converter.h"

namespace {

void ZeroVideoParam(_video_param& p) { std::memset(&p, 0, sizeof(p)); }

// The callback has the shape of FFmpeg's and takes an argument list; our messages have no
// arguments, so it gets a real, empty one (a null va_list is not portable).
void CallLog(QVLogCallback callback, int level, const char* text, ...) {
    va_list args;
    va_start(args, text);
    callback(nullptr, level, text, args);
    va_end(args);
}

}  // namespace

QVDecoder::Impl::Impl() { Init(); }

QVDecoder::Impl::Impl(_picture_param output, char /*high_quality*/) {
    Init();
    // The character is accepted for compatibility; quality is chosen by the output setters.
    output_request = output;
    output_request.format = static_cast<enum PixelFormat>(qv::PixelFormatFromLegacy(output.format));
    output_param.width = output_request.width;
    output_param.height = output_request.height;
    output_param.pix_fmt = output_request.format;
    output_enabled = true;
    high_quality = false;
}

QVDecoder::Impl::~Impl() {
    try {
        QVClose();
    } catch (...) {
    }
}

void QVDecoder::Impl::Init() {
    audio_frame_size = 0;
    output_enabled = false;
    output_format_set = false;
    output_size_set = false;
    output_request = _picture_param{0, 0, PIX_FMT_YUV420P};
    opened = false;
    has_video = false;
    has_audio = false;
    code_mode = CODE_MODE_FRAME;
    transfer_mode = TRANSFER_MODE_FRAME;
    output_mode = OUTPUT_MODE_ALL;
    video_stream = nullptr;
    audio_stream = nullptr;
    ZeroVideoParam(video_param);
    ZeroVideoParam(output_param);
    output_param.pix_fmt = AV_PIX_FMT_NONE;
    audio_offset = 0;
    frame_time = 0.0;
    log_callback = nullptr;
    log_level = 16;
    src_picture = QVPicture{};
    out_picture = QVPicture{};
    high_quality = false;
    first_field_buffer = nullptr;
    merged_frame_buffer = nullptr;
    first_field_picture = QVPicture{};
    second_field_picture = QVPicture{};
    merged_picture = QVPicture{};
    nal_buffer = nullptr;
    nal_buffer_capacity = 0;
    nal_buffer_length = 0;
    key_frame_seen = false;
    g722_decoder = nullptr;
    demux = 0;
    demux_buffer = nullptr;
    raw_supported = false;
    packet_count = 0;
    last_raw_time = -1;  // no timed raw packet handed out yet
    last_raw_count = -1;
    snapshot_converter = nullptr;
    first_field_size = 0;
    merged_frame_size = 0;
    out_picture_size = 0;
    out_picture_allocated = false;
    converter_source = _picture_param{0, 0, PIX_FMT_NONE};
    resampler_format = -1;
    resampler_rate = 0;
    resampler_channels = 0;
    audio_packet_sent = false;
    file_draining = false;
    chunk_head = 0;
    chunk_head_offset = 0;
    thread_request = 1;
    latency = LATENCY_MODE_LOW;
    picture_flags = 0;

    input_formats.clear();
    for (const char* name : qv::kInputFormatNames) {
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        const AVInputFormat* format = av_find_input_format(name);
        if (format) input_formats.push_back(format);
    }
    extra_input_formats.clear();
    for (const char* name : qv::kExtraInputFormatNames) {
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        const AVInputFormat* format = av_find_input_format(name);
        if (format) extra_input_formats.push_back(format);
    }
}

void QVDecoder::Impl::ReleaseAll() {
    // The file's stream decoders close without the global lock.
    file_video_ctx.reset();

    if (video_param.video_buffer) av_freep(&video_param.video_buffer);
    if (video_param.audio_buffer) {
        av_freep(&video_param.audio_buffer);
        audio_frame_size = 0;
    }
    ZeroVideoParam(video_param);

    if (output_param.video_buffer) av_freep(&output_param.video_buffer);
    if (output_param.audio_buffer) av_freep(&output_param.audio_buffer);
    ZeroVideoParam(output_param);
    output_param.pix_fmt = AV_PIX_FMT_NONE;

    file_audio_ctx.reset();

    if (format_ctx) {
        format_ctx.reset();
        video_stream = nullptr;
        audio_stream = nullptr;
    }

    DestroyConverter();

    opened = false;
    has_video = false;
    has_audio = false;
    output_enabled = false;

    delete snapshot_converter;
    snapshot_converter = nullptr;

    std::free(first_field_buffer);
    first_field_buffer = nullptr;
    first_field_size = 0;
    std::free(merged_frame_buffer);
    merged_frame_buffer = nullptr;
    merged_frame_size = 0;

    if (audio_ctx) {
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        audio_ctx.reset();
    }
    if (video_ctx) {
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        video_ctx.reset();
    }

    delete g722_decoder;
    g722_decoder = nullptr;

    if (demux_buffer) {
        std::free(demux_buffer->data);
        demux_buffer->data = nullptr;
        demux_buffer->capacity = 0;
        demux_buffer->length = 0;
        delete demux_buffer;
        demux_buffer = nullptr;
    }

    if (nal_buffer) {
        std::free(nal_buffer);
        nal_buffer = nullptr;
        nal_buffer_capacity = 0;
        nal_buffer_length = 0;
    }

    output_format_set = false;
    output_size_set = false;

    // A file packet still pending would otherwise leak into the next open.
    if (packet) av_packet_unref(packet.get());
    audio_offset = 0;
    file_draining = false;
    // Also drops an audio frame received ahead of the host, which holds decoded samples.
    ResetAudioDecoding();
    if (work_packet) av_packet_unref(work_packet.get());
    if (frame) av_frame_unref(frame.get());
    ReleaseChunkedInput();
}

void QVDecoder::Impl::QVClose() {
    ReleaseAll();
    input_formats.clear();
    extra_input_formats.clear();
}

int QVDecoder::Impl::QVDecoderRegisterLog(QVLogCallback callback, int level) {
    av_log_set_level(level);
    log_callback = callback;
    // FFmpeg must never be handed a null callback: fall back to its own printer.
    av_log_set_callback(callback ? callback : av_log_default_callback);
    return 0;
}

void QVDecoder::Impl::QVDECODE_LOG(const char* text, int level) {
    if (log_callback && level <= log_level) CallLog(log_callback, level, text);
}
