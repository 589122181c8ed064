// Construction, closing, moving and logging of the decoder object.
#include <cstdlib>
#include <cstring>
#include <utility>

#include "QVDecoder.h"
#include "bitstream/demux_buffer.h"
#include "core/ffmpeg.h"
#include "core/legacy_ids.h"
#include "core/library.h"
#include "g722/g722_decoder.h"
#include "snapshot/snapshot_converter.h"

namespace {

void ZeroVideoParam(_video_param& p) { std::memset(&p, 0, sizeof(p)); }

}  // namespace

QVDecoder::QVDecoder() { Init(); }

QVDecoder::QVDecoder(_picture_param output, char /*high_quality*/) {
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

QVDecoder::~QVDecoder() {
    try {
        QVClose();
    } catch (...) {
    }
}

void QVDecoder::Init() {
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

    input_formats.clear();
    for (const char* name : qv::kInputFormatNames) {
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        const AVInputFormat* format = av_find_input_format(name);
        if (format) input_formats.push_back(format);
    }
}

void QVDecoder::ReleaseAll() {
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

void QVDecoder::QVClose() {
    ReleaseAll();
    input_formats.clear();
}

QVDecoder::QVDecoder(QVDecoder&& other) noexcept : QVDecoder() { *this = std::move(other); }

QVDecoder& QVDecoder::operator=(QVDecoder&& other) noexcept {
    if (this == &other) return *this;
    QVClose();
    // Every member changes hands; the source then holds this object's closed state.
    using std::swap;
    swap(audio_frame_size, other.audio_frame_size);
    swap(output_enabled, other.output_enabled);
    swap(output_format_set, other.output_format_set);
    swap(output_size_set, other.output_size_set);
    swap(output_request, other.output_request);
    swap(opened, other.opened);
    swap(has_video, other.has_video);
    swap(has_audio, other.has_audio);
    swap(code_mode, other.code_mode);
    swap(transfer_mode, other.transfer_mode);
    swap(output_mode, other.output_mode);
    swap(format_ctx, other.format_ctx);
    swap(video_stream, other.video_stream);
    swap(audio_stream, other.audio_stream);
    swap(video_ctx, other.video_ctx);
    swap(audio_ctx, other.audio_ctx);
    swap(video_param, other.video_param);
    swap(output_param, other.output_param);
    swap(packet, other.packet);
    swap(audio_offset, other.audio_offset);
    swap(frame_time, other.frame_time);
    swap(converter, other.converter);
    swap(log_callback, other.log_callback);
    swap(log_level, other.log_level);
    swap(src_picture, other.src_picture);
    swap(out_picture, other.out_picture);
    swap(high_quality, other.high_quality);
    swap(first_field_buffer, other.first_field_buffer);
    swap(merged_frame_buffer, other.merged_frame_buffer);
    swap(first_field_picture, other.first_field_picture);
    swap(second_field_picture, other.second_field_picture);
    swap(merged_picture, other.merged_picture);
    swap(nal_buffer, other.nal_buffer);
    swap(nal_buffer_capacity, other.nal_buffer_capacity);
    swap(nal_buffer_length, other.nal_buffer_length);
    swap(key_frame_seen, other.key_frame_seen);
    swap(g722_decoder, other.g722_decoder);
    swap(demux, other.demux);
    swap(demux_buffer, other.demux_buffer);
    swap(input_formats, other.input_formats);
    swap(raw_supported, other.raw_supported);
    swap(packet_count, other.packet_count);
    swap(last_raw_time, other.last_raw_time);
    swap(last_raw_count, other.last_raw_count);
    swap(snapshot_converter, other.snapshot_converter);
    swap(file_video_ctx, other.file_video_ctx);
    swap(file_audio_ctx, other.file_audio_ctx);
    swap(frame, other.frame);
    swap(work_packet, other.work_packet);
    swap(input_buffer, other.input_buffer);
    swap(first_field_size, other.first_field_size);
    swap(merged_frame_size, other.merged_frame_size);
    swap(out_picture_size, other.out_picture_size);
    swap(out_picture_allocated, other.out_picture_allocated);
    swap(converter_source, other.converter_source);
    swap(video_parser, other.video_parser);
    swap(chunk_input, other.chunk_input);
    swap(chunk_queue, other.chunk_queue);
    swap(chunk_sizes, other.chunk_sizes);
    swap(chunk_head, other.chunk_head);
    swap(chunk_head_offset, other.chunk_head_offset);
    swap(out_picture_planes, other.out_picture_planes);
    swap(resampler, other.resampler);
    swap(resampler_format, other.resampler_format);
    swap(resampler_rate, other.resampler_rate);
    swap(resampler_channels, other.resampler_channels);
    swap(audio_packet_sent, other.audio_packet_sent);
    swap(audio_next_frame, other.audio_next_frame);
    swap(file_draining, other.file_draining);
    return *this;
}

int QVDecoder::QVDecoderRegisterLog(QVLogCallback callback, int level) {
    av_log_set_level(level);
    log_callback = callback;
    // FFmpeg must never be handed a null callback: fall back to its own printer.
    av_log_set_callback(callback ? callback : av_log_default_callback);
    return 0;
}

void QVDecoder::QVDECODE_LOG(const char* text, int level) {
    if (log_callback && level <= log_level) {
        log_callback(nullptr, level, text, nullptr);
    }
}
