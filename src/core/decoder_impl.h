// The decoder object's implementation behind the public class: one part per concern,
// composed here. The public methods check their arguments and hand over to the parts.
//
// A pushed video frame: repack (H.264 units) -> demux (program-stream pack) -> field split
// or chunk parser -> video decoder -> picture store and output converter.
// A file packet: media file read -> video decoder (picture store, converter) or audio
// decoder; raw extraction reads the media file's video packets instead.
#pragma once

#include "QVDecoder.h"
#include "audio/audio_decoder.h"
#include "core/logger.h"
#include "file/media_file.h"
#include "file/picture_clock.h"
#include "file/raw_extractor.h"
#include "output/output_converter.h"
#include "output/picture_store.h"
#include "snapshot/snapshot_saver.h"
#include "stream/chunked_input.h"
#include "stream/field_assembler.h"
#include "stream/push_stages.h"
#include "video/picture_limit.h"
#include "video/video_decoder.h"

// Hidden: nested in an exported class, it would otherwise be exported with it.
struct __attribute__((visibility("hidden"))) QVDecoder::Impl {
    Impl();
    Impl(_picture_param output, char high_quality);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Lifecycle, modes and the log (core/decoder_impl.cpp).
    void QVClose();
    int QVDecoderRegisterLog(QVLogCallback callback, int level);
    int QVDecoderSetParam(_decoder_param param);
    int QVDecoderSetEncodeMode(enum code_mode mode);
    int QVDecoderSetStreamMode(enum transfer_mode mode);
    int QVDecoderSetOutputMode(enum output_mode mode);
    int QVDecoderSetDemux(int demux);
    int QVDecoderSetLatencyMode(enum latency_mode mode);
    int QVDecoderSetThreads(int count);
    int QVDecoderSetMaxPixels(int64_t value);
    void QVDECODE_LOG(const char* text, int level) const { log.Log(text, level); }

    // Stream-mode video opens (stream/stream_open.cpp).
    int QVOpenDecoder(enum CodecID codec, _picture_param picture);
    int QVSetPictureParam(_picture_param picture);
    // Pushed video (stream/push_video.cpp).
    int QVDecodeVideoFrame(unsigned char* data, int length, int repack);
    int QVReceiveVideoFrame();
    int QVFlushVideo();
    // Audio (audio/audio_open.cpp).
    int QVOpenDecoder(enum CodecID codec, _audio_param audio);
    int QVOpenDecoder(enum CodecID video_codec, _picture_param picture, enum CodecID audio_codec,
                      _audio_param audio);
    int QVDecodeAudioFrame(unsigned char* data, int size);
    unsigned char* QVGetAudioFrame() { return audio.audio_param.audio_buffer; }
    int QVGetAudioFrameSize() const { return audio.audio_frame_size; }
    // Results (video/deliver_picture.cpp).
    unsigned char* QVGetVideoFrame();
    int QVGetVideoFrameSize() const;
    int QVGetParam(_video_param& param);
    int QVGetPictureFlags() const { return picture_flags; }
    // File mode (file/file_open.cpp, file/file_decode.cpp).
    int QVOpen(const char* name);
    int QVDecodeFrame();
    int64_t QVGetFrameTimestamp();
    int QVGetVideoRawFrame(unsigned char* buffer, int size, int& header_length, int64_t& timestamp_ms,
                           int& key_flag, int& position);
    int QVGetVideoRawFrame(unsigned char* buffer, int size, int64_t& timestamp_ms, int& key_flag) {
        int header_length = 0;
        int position = 0;
        return QVGetVideoRawFrame(buffer, size, header_length, timestamp_ms, key_flag, position);
    }
    // Output settings (output/output_settings.cpp).
    void QVSetOutput(_picture_param picture, char high_quality);
    void QVSetOutputFormat(enum PixelFormat format, char high_quality);
    void QVSetOutputResolution(int width, int height, char high_quality);
    void QVGetOutputResolution(int& width, int& height);
    bool AcceptOutputSize(int width, int height, const char* refusal) const;
    // Snapshots (snapshot/decoder_snapshots.cpp).
    int QVSaveCurrentImage(const char* path);
    int QVSaveOutputImage(const char* path);

    // Steps shared by the opens.
    bool CheckInitialized();  // logs the failure
    int OpenStreamVideo(enum CodecID codec, _picture_param picture, bool combined);
    AVCodecContext* NewVideoContext(_picture_param picture);
    int OpenVideoCodec(AVCodecContext* ctx, int av_codec, bool combined);
    void RecordStreamPicture(const AVCodecContext* ctx, int codec);
    int AllocatePictureBuffer(const char* wrong_size_message, const char* no_memory_message);
    int FinishStreamVideoOpen();
    void ReleaseAll();  // QVClose without forgetting the container-format list

    // Decoding steps.
    // `packet`: a demuxed file packet, sent as it is (data and length then describe it).
    int DecodeVideoFrame(const uint8_t* data, int length, const AVPacket* packet = nullptr);
    int DecodeFieldFrame(const uint8_t* data, int length);
    int DecodeChunkedVideo(const uint8_t* data, int length);
    bool UsesChunkedInput();
    // Lays out the picture in the video decoder's frame (picture buffer, conversion),
    // following a change of geometry first. False when it could not be laid out.
    bool LayOutPicture();
    // The result of a decode step after LayOutPicture: 0, or -10005 with its log line.
    int DeliverPicture(bool got_picture, int decode_status);
    // A frame that gave no picture: a level-15 message when it states a picture over the limit.
    void ExplainMissingPicture(const uint8_t* data, int length, int status);
    void LogOverLimit() const;
    // Takes pictures from the decoder (and queued input) until one is handed out.
    int ReceivePicture();
    bool file_mode() const { return file.is_open() && file.video_stream(); }
    // Field-coded pushed frames (two fields merged into one picture); a file's decoder
    // gives whole pictures, whatever the mode says.
    bool field_coded() const { return code_mode == CODE_MODE_FIELD && !file_mode(); }
    // What QVGetVideoFrame hands out is there: a buffer of positive size.
    bool PictureReady() const;
    // The host takes every picture (receive loop, flush): pictures may wait in the decoder.
    // Field-coded frames need both fields' pictures within their push, so they never wait.
    bool CompleteOutput() const { return latency == LATENCY_MODE_COMPLETE && code_mode != 1; }
    qv::DecodedPicture Decoded() const;

    // Parts.
    qv::Logger log;
    qv::PictureStore picture;       // video_param
    qv::OutputConverter output;     // output_param
    qv::VideoDecoder video;
    qv::ChunkedInput chunks;
    qv::FieldAssembler fields;
    qv::RepackStage repack;
    qv::DemuxStage demux_stage;
    qv::AudioDecoder audio;
    qv::MediaFile file;
    qv::PictureClock clock;         // file mode: picture times under threads and the drain
    qv::RawExtractor raw;
    qv::SnapshotSaver snapshots;

    // Modes and state of the object.
    enum code_mode code_mode = CODE_MODE_FRAME;
    enum transfer_mode transfer_mode = TRANSFER_MODE_FRAME;
    enum output_mode output_mode = OUTPUT_MODE_ALL;
    int demux = 0;
    int latency = LATENCY_MODE_LOW;
    int thread_request = 1;
    int64_t max_pixels = qv::kDefaultMaxPixels;  // largest decoded picture accepted
    bool opened = false;
    bool has_video = false;
    bool has_audio = false;
    bool key_frame_seen = false;
    // A frame was lost or refused since the last key frame: later pictures may be smeared.
    bool reference_missing = false;
    // The host asked for the end of the stream; queued input goes in before the drain.
    bool flush_pending = false;
    int picture_flags = 0;
    int64_t picture_time = 0;  // best-effort time of the picture last laid out (decoder time base)
};

// The library's own access to a decoder's implementation (tests, tools inside the tree).
struct QVDecoderInternals {
    static QVDecoder::Impl& Of(QVDecoder& decoder) { return *decoder.impl_; }
    static const QVDecoder::Impl& Of(const QVDecoder& decoder) { return *decoder.impl_; }
};
