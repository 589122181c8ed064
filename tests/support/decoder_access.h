// Test access to the decoder's private state.
#pragma once

#include "core/decoder_impl.h"

struct QVDecoderInspector {
    static bool output_enabled(const QVDecoder& d) { return QVDecoderInternals::Of(d).output_enabled; }
    static bool output_format_set(const QVDecoder& d) { return QVDecoderInternals::Of(d).output_format_set; }
    static bool output_size_set(const QVDecoder& d) { return QVDecoderInternals::Of(d).output_size_set; }
    static bool opened(const QVDecoder& d) { return QVDecoderInternals::Of(d).opened; }
    static bool key_frame_seen(const QVDecoder& d) { return QVDecoderInternals::Of(d).key_frame_seen; }
    static bool high_quality(const QVDecoder& d) { return QVDecoderInternals::Of(d).high_quality; }
    static int demux(const QVDecoder& d) { return QVDecoderInternals::Of(d).demux; }
    static int code_mode(const QVDecoder& d) { return QVDecoderInternals::Of(d).code_mode; }
    static const _video_param& video_param(const QVDecoder& d) { return QVDecoderInternals::Of(d).video_param; }
    static const _video_param& output_param(const QVDecoder& d) { return QVDecoderInternals::Of(d).output_param; }
    static const _picture_param& output_request(const QVDecoder& d) { return QVDecoderInternals::Of(d).output_request; }
    static AVCodecContext* video_ctx(const QVDecoder& d) { return QVDecoderInternals::Of(d).video_ctx.get(); }
    static AVCodecContext* audio_ctx(const QVDecoder& d) { return QVDecoderInternals::Of(d).audio_ctx.get(); }
    static SwsContext* converter(const QVDecoder& d) { return QVDecoderInternals::Of(d).converter.get(); }
    static const _picture_param& converter_source(const QVDecoder& d) { return QVDecoderInternals::Of(d).converter_source; }
    static _demux_buffer* demux_buffer(const QVDecoder& d) { return QVDecoderInternals::Of(d).demux_buffer; }
    static size_t input_format_count(const QVDecoder& d) { return QVDecoderInternals::Of(d).input_formats.size(); }
    static QVLogCallback log_callback(const QVDecoder& d) { return QVDecoderInternals::Of(d).log_callback; }
    static int log_level(const QVDecoder& d) { return QVDecoderInternals::Of(d).log_level; }
    static int audio_frame_size(const QVDecoder& d) { return QVDecoderInternals::Of(d).audio_frame_size; }
    static uint8_t* merged_frame_buffer(const QVDecoder& d) { return QVDecoderInternals::Of(d).merged_frame_buffer; }
    static uint8_t* nal_buffer(const QVDecoder& d) { return QVDecoderInternals::Of(d).nal_buffer; }
    static int nal_buffer_length(const QVDecoder& d) { return QVDecoderInternals::Of(d).nal_buffer_length; }
    static bool raw_supported(const QVDecoder& d) { return QVDecoderInternals::Of(d).raw_supported; }
    static G722Decoder* g722_decoder(const QVDecoder& d) { return QVDecoderInternals::Of(d).g722_decoder; }
    static SnapshotConverter* snapshot_converter(const QVDecoder& d) { return QVDecoderInternals::Of(d).snapshot_converter; }
    static AVCodecParserContext* video_parser(const QVDecoder& d) { return QVDecoderInternals::Of(d).video_parser.get(); }
    static size_t waiting_frames(const QVDecoder& d) { return QVDecoderInternals::Of(d).chunk_sizes.size() - QVDecoderInternals::Of(d).chunk_head; }
    static AVFormatContext* format_ctx(const QVDecoder& d) { return QVDecoderInternals::Of(d).format_ctx.get(); }
    static double frame_time(const QVDecoder& d) { return QVDecoderInternals::Of(d).frame_time; }
    static void set_frame_time(QVDecoder& d, double t) { QVDecoderInternals::Of(d).frame_time = t; }
    static void set_log_level(QVDecoder& d, int level) { QVDecoderInternals::Of(d).log_level = level; }
    static int ConvertPicture(QVDecoder& d, const uint8_t* src, uint8_t* dst) { return QVDecoderInternals::Of(d).ConvertPicture(src, dst); }
    static int SetConverter(QVDecoder& d, _picture_param s, _picture_param t) { return QVDecoderInternals::Of(d).SetConverter(s, t); }
    // File mode.
    static bool has_video(const QVDecoder& d) { return QVDecoderInternals::Of(d).has_video; }
    static bool has_audio(const QVDecoder& d) { return QVDecoderInternals::Of(d).has_audio; }
    static int packet_count(const QVDecoder& d) { return QVDecoderInternals::Of(d).packet_count; }
    static AVStream* video_stream(const QVDecoder& d) { return QVDecoderInternals::Of(d).video_stream; }
    static AVPacket* packet(const QVDecoder& d) { return QVDecoderInternals::Of(d).packet.get(); }
    static AVFrame* audio_next_frame(const QVDecoder& d) { return QVDecoderInternals::Of(d).audio_next_frame.get(); }
    static bool GetSPSAndPPS(QVDecoder& d, const uint8_t* record, int length, uint8_t* out, int& capacity) {
        return QVDecoderInternals::Of(d).GetSPSAndPPS(record, length, out, capacity);
    }
    static bool CheckFormatAndCodec(QVDecoder& d, int codec, const char* name) {
        return QVDecoderInternals::Of(d).CheckFormatAndCodec(codec, name);
    }
};
