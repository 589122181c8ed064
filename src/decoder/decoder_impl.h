// The decoder object's implementation behind the public class: the parts, composed here,
// the modes the host set, and the open/close order. A public method checks its arguments
// and hands over to the part that does the work:
//
// - StreamVideoPath: a pushed video frame through repack, demux, field split or chunk
//   parser, then the video decoder; the receive loop and the flush.
// - FileSession: a media file's open, its packets to the video or audio decoder, the drain
//   at its end, and raw extraction.
// - PictureDelivery: what both paths share, one decoding step and the picture it gives laid
//   out in the picture store and converted by the output converter.
// - AudioDecoder for pushed audio, SnapshotSaver for the BMP snapshots.
#pragma once

#include <string>

#include "QVDecoder.h"
#include "audio/audio_decoder.h"
#include "base/decoder_modes.h"
#include "base/logger.h"
#include "file/file_session.h"
#include "output/output_converter.h"
#include "output/picture_store.h"
#include "snapshot/snapshot_saver.h"
#include "stream/stream_video_path.h"
#include "video/picture_delivery.h"
#include "video/video_decoder.h"

// Hidden: nested in an exported class, it would otherwise be exported with it.
struct __attribute__((visibility("hidden"))) QVDecoder::Impl {
    Impl();
    Impl(_picture_param output, char high_quality);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Lifecycle, modes and the log (decoder/decoder_impl.cpp).
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
    int QVDecoderSelectStreams(int video, int audio);
    int QVDecoderSetConverter(int engine) {
        const int set = output.SetEngine(engine);
        if (set == 0) delivery.OutputChanged();
        return set;
    }
    int QVDecoderSetFastDecode(int on) {
        if (on != 0 && on != 1) return -1;
        video.SetFast(on == 1);
        return 0;
    }

    // Opens (decoder/decoder_opens.cpp).
    int QVOpenDecoder(enum CodecID codec, _picture_param picture);
    int QVOpenDecoder(enum CodecID codec, _audio_param audio);
    int QVOpenDecoder(enum CodecID video_codec, _picture_param picture, enum CodecID audio_codec,
                      _audio_param audio);
    int QVSetPictureParam(_picture_param picture);
    int QVOpen(const char* name);
    const char* QVGetOpenError() const { return open_error.c_str(); }
    int64_t QVGetMaxPixels() const { return modes.max_pixels; }

    // Decoding and results (decoder/decoder_calls.cpp).
    int QVDecodeVideoFrame(unsigned char* data, int length, int repack);
    int QVReceiveVideoFrame();
    int QVFlushVideo();
    int QVDecodeAudioFrame(unsigned char* data, int size);
    int QVDecodeFrame();
    int64_t QVGetFrameTimestamp() { return session.FrameTimestamp(); }
    int QVSeek(int64_t time_us, int flags);
    int QVDecoderSetFrameSkip(int mode);
    int64_t QVGetDuration() const { return opened && session.file().is_open() ? session.Duration() : -1; }
    int64_t QVGetStartTime() const { return opened && session.file().is_open() ? session.StartTime() : 0; }
    int QVGetVideoRawFrame(unsigned char* buffer, int size, int& header_length, int64_t& timestamp_ms,
                           int& key_flag, int& position) {
        return session.GetVideoRawFrame(buffer, size, header_length, timestamp_ms, key_flag, position);
    }
    int QVGetVideoRawFrameSize() { return session.GetVideoRawFrameSize(); }
    int QVGetVideoRawFrame(unsigned char* buffer, int size, int64_t& timestamp_ms, int& key_flag) {
        int header_length = 0;
        int position = 0;
        return QVGetVideoRawFrame(buffer, size, header_length, timestamp_ms, key_flag, position);
    }
    unsigned char* QVGetVideoFrame() { return delivery.VideoFrame(stream.merged()); }
    int QVGetVideoFrameSize() const { return delivery.VideoFrameSize(stream.merged()); }
    int QVGetVideoFrameInto(unsigned char* buffer, int size) {
        return buffer ? delivery.VideoFrameInto(stream.merged(), buffer, size) : -1;
    }
    int QVGetParam(_video_param& param);
    int QVGetPictureFlags() const { return delivery.picture_flags(); }
    enum PixelFormat QVGetOutputFormat() const;
    int QVGetPictureColour() const { return delivery.PictureColourCode(); }
    int QVGetVideoPlanes(unsigned char* data[4], int linesize[4]) const {
        return delivery.VideoPlanes(stream.merged(), data, linesize);
    }
    unsigned char* QVGetAudioFrame() { return audio.audio_param.audio_buffer; }
    int QVGetAudioFrameSize() const { return audio.audio_frame_size; }

    // Live sources: the file path's guard, options and capture times (file/media_file.cpp).
    int QVDecoderSetTimeout(int ms) { return session.file().guard().SetTimeout(ms); }
    int QVDecoderSetNetworkOption(const char* key, const char* value) {
        return session.file().network_options().Set(key, value);
    }
    void QVInterrupt() { session.file().guard().Interrupt(); }
    int64_t QVGetPictureWallclock() const {
        return delivery.PictureReady(stream.merged()) ? session.PictureWallclock() : -1;
    }
    int64_t QVGetPictureTime() const {
        return delivery.PictureReady(stream.merged()) ? session.PictureTime() : -1;
    }
    int64_t QVGetFrameCount() const { return opened ? session.FrameCount() : -1; }
    int64_t QVGetStatedBitRate(bool audio) const { return opened ? session.StatedBitRate(audio) : -1; }
    int QVGetPictureType() const { return delivery.PictureReady(stream.merged()) ? delivery.picture_type() : 0; }
    int QVGetPictureAspect(int& num, int& den) const {
        if (delivery.PictureReady(stream.merged())) return delivery.PictureAspect(num, den) ? 1 : 0;
        num = den = 1;
        return 0;
    }
    int QVGetPictureRotation() const;  // decoder/decoder_calls.cpp
    int64_t QVGetPictureDelay() const { return file_mode() ? session.picture_delay() : -1; }
    int QVDecoderSetMaxLatency(int ms) { return session.SetMaxLatency(ms); }
    int64_t QVGetSkippedPictures() const { return session.skipped(); }

    // Output settings and snapshots (decoder/decoder_output.cpp).
    void QVSetOutput(_picture_param picture, char high_quality);
    void QVSetOutputFormat(enum PixelFormat format, char high_quality);
    void QVSetOutputResolution(int width, int height, char high_quality);
    void QVGetOutputResolution(int& width, int& height);
    int QVSaveCurrentImage(const char* path);
    int QVSaveOutputImage(const char* path);

    void QVDECODE_LOG(const char* text, int level) const { log.Log(text, level); }
    bool CheckInitialized();  // logs the failure
    // True (with a level-15 message) when the object is open already.
    bool AlreadyOpen(const char* message) const;
    // The end of an open step: a failure closes the object (when it says so), then logs.
    int Conclude(const qv::OpenOutcome& outcome);
    int OpenStreamAudio(int codec, _audio_param params, bool combined);
    // A negative size can never be produced and a size over the picture limit must not be
    // allocated: such a request is refused with the message and the previous output stays.
    bool AcceptOutputSize(int width, int height, const char* refusal) const;
    void ReleaseAll();  // QVClose without forgetting the container-format list
    bool file_mode() const { return session.file_mode(); }
    bool field_coded() const { return delivery.field_coded(); }
    qv::DecodedPicture Decoded() const { return delivery.Decoded(opened); }

    // Parts, in construction order: each takes the ones before it.
    qv::Logger log;
    qv::DecoderModes modes;
    qv::PictureStore picture;    // video_param
    qv::OutputConverter output;  // output_param
    qv::VideoDecoder video;
    qv::AudioDecoder audio;
    qv::PictureDelivery delivery;
    qv::StreamVideoPath stream;
    qv::FileSession session;
    qv::SnapshotSaver snapshots;

    bool opened = false;
    std::string open_error;  // why the last QVOpen failed; empty after one that succeeded
    bool has_video = false;
    bool has_audio = false;
};

// The library's own access to a decoder's implementation (tests, tools inside the tree).
struct QVDecoderInternals {
    static QVDecoder::Impl& Of(QVDecoder& decoder) { return *decoder.impl_; }
    static const QVDecoder::Impl& Of(const QVDecoder& decoder) { return *decoder.impl_; }
};
