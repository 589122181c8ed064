// The decoder object's implementation behind the public class.
#pragma once

#include <memory>
#include <vector>

#include "QVDecoder.h"
#include "core/ffmpeg_deleters.h"
#include "core/picture.h"

struct _demux_buffer;
class G722Decoder;
class SnapshotConverter;

// Hidden: nested in an exported class, it would otherwise be exported with it.
struct __attribute__((visibility("hidden"))) QVDecoder::Impl {
public:
    Impl();
    Impl(_picture_param output, char high_quality);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void QVClose();
    int QVDecoderRegisterLog(QVLogCallback callback, int level);

    // Modes.
    int QVDecoderSetParam(_decoder_param param);
    int QVDecoderSetEncodeMode(enum code_mode mode);
    int QVDecoderSetStreamMode(enum transfer_mode mode);
    int QVDecoderSetOutputMode(enum output_mode mode);
    int QVDecoderSetDemux(int demux);

    // Stream mode.
    int QVOpenDecoder(enum CodecID codec, _picture_param picture);
    int QVOpenDecoder(enum CodecID codec, _audio_param audio);
    int QVOpenDecoder(enum CodecID video_codec, _picture_param picture, enum CodecID audio_codec,
                      _audio_param audio);
    int QVSetPictureParam(_picture_param picture);
    int QVDecodeVideoFrame(unsigned char* data, int length, int repack);
    int QVDecodeAudioFrame(unsigned char* data, int size);

    // Results.
    unsigned char* QVGetVideoFrame();
    int QVGetVideoFrameSize();
    int QVGetParam(_video_param& param);
    unsigned char* QVGetAudioFrame();
    int QVGetAudioFrameSize();

    // File mode.
    int QVOpen(const char* name);
    int QVDecodeFrame();
    int64_t QVGetFrameTimestamp();
    int QVGetVideoRawFrame(unsigned char* buffer, int size, int& header_length, int64_t& timestamp_ms,
                           int& key_flag, int& position);
    int QVGetVideoRawFrame(unsigned char* buffer, int size, int64_t& timestamp_ms, int& key_flag);

    // Output settings.
    void QVSetOutput(_picture_param picture, char high_quality);
    void QVSetOutputFormat(enum PixelFormat format, char high_quality);
    void QVSetOutputResolution(int width, int height, char high_quality);
    void QVGetOutputResolution(int& width, int& height);

    // Snapshots.
    int QVSaveCurrentImage(const char* path);
    int QVSaveOutputImage(const char* path);

    // Extensions.
    int QVReceiveVideoFrame();
    int QVFlushVideo();
    int QVGetPictureFlags();
    int QVDecoderSetLatencyMode(enum latency_mode mode);
    int QVDecoderSetThreads(int count);


    void Init();
    void QVDECODE_LOG(const char* text, int level);
    void ReleaseAll();  // QVClose without the container-format list (used by the move operations)

    // Stream-mode video (open, decode, converter).
    _demux_buffer* AllocateDemuxBuffer();
    void SetUpOutputAfterOpen();  // builds the converter or mirrors the decoded picture
    int FinishStreamVideoOpen();
    // video_ctx for a stream-mode open: picture size, chunk flag, single thread.
    AVCodecContext* NewVideoContext(_picture_param picture);
    void RecordStreamPicture(const AVCodecContext* ctx, int codec);
    // Allocates the picture buffer for video_param's geometry; on failure closes and reports.
    int AllocatePictureBuffer(const char* wrong_size_message, const char* no_memory_message);
    int DecodeVideoFrame(const uint8_t* data, int length);
    int DeliverPicture(bool got_picture, int decode_status);  // steps after the decode call
    int SetConverter(_picture_param source, _picture_param destination);
    int ConvertPicture(const uint8_t* source, uint8_t* destination);
    void DestroyConverter();
    bool LayOutPictureTarget(_picture_param destination);
    _picture_param ConversionSource() const;  // the decoded picture (merged height in field mode)
    void RebuildConverter(int width, int height, int format);
    void RecordOutputRequest(int width, int height, int format, bool format_set, bool size_set,
                             char quality);
    unsigned char* GetVideoFrame();
    int GetVideoFrameSize();
    const uint8_t* PadInput(const uint8_t* data, int length);
    int SendPushedBytes(AVCodecContext* ctx, const uint8_t* data, int length);  // padded, reused packet

    // Input cut at packet boundaries (transfer_mode 1): parsed into frames, then decoded.
    bool UsesChunkedInput();
    int DecodeChunkedVideo(const uint8_t* data, int length);
    bool QueueChunkedFrame(const uint8_t* data, int length);
    void SendQueuedFrames(AVCodecContext* ctx, bool& got_picture, int& status);
    void ReleaseChunkedInput();

    // Pushed-video stages.
    bool FindH264NalUnits(const uint8_t* data, int length);
    int DecodeFieldFrame(const uint8_t* data, int length);

    // Audio.
    int InitializeAudio(_video_param* param, int sample_rate, int bit_rate, int channels, int codec);
    int OpenG722Decoder(int sample_rate, int bit_rate, int channels);
    int DecodeAudioFrame(const uint8_t* data, int size);
    int OpenAudioCodec(int codec, _audio_param audio, bool combined);
    int SetUpOwnAudioDecoder(int codec, _audio_param audio);
    int DecodeAudioWithCodec(AVCodecContext* ctx, const uint8_t* data, int size, bool file_mode);
    int AppendAudio(const AVFrame* decoded, int offset);  // S16 bytes written at offset, or -1
    void ResetAudioDecoding();  // drops the resampler and any frame still to be handed out

    // File mode.
    int ReadFrame();
    bool GetSPSAndPPS(const uint8_t* record, int length, uint8_t* destination, int& capacity);
    bool CheckFormatAndCodec(int codec, const char* format_name);

    // Snapshots.
    SnapshotConverter* SharedSnapshotConverter(int width, int height, int format);
    int SavePictureAsBmp(const char* path, const uint8_t* picture, int width, int height, int format);

    // Members, in the order of the object's data model.
    int audio_frame_size;
    bool output_enabled;
    bool output_format_set;
    bool output_size_set;
    _picture_param output_request;  // format holds an FFmpeg pixel format
    bool opened;
    bool has_video;
    bool has_audio;
    enum code_mode code_mode;
    enum transfer_mode transfer_mode;
    enum output_mode output_mode;
    std::unique_ptr<AVFormatContext, qv::FormatContextDeleter> format_ctx;
    AVStream* video_stream;
    AVStream* audio_stream;
    std::unique_ptr<AVCodecContext, qv::CodecContextDeleter> video_ctx;
    std::unique_ptr<AVCodecContext, qv::CodecContextDeleter> audio_ctx;
    _video_param video_param;
    _video_param output_param;
    std::unique_ptr<AVPacket, qv::PacketDeleter> packet;  // file mode: the packet being consumed
    int audio_offset;
    double frame_time;
    std::unique_ptr<SwsContext, qv::SwsDeleter> converter;
    QVLogCallback log_callback;
    int log_level;
    QVPicture src_picture;
    QVPicture out_picture;
    bool high_quality;
    uint8_t* first_field_buffer;
    uint8_t* merged_frame_buffer;
    QVPicture first_field_picture;
    QVPicture second_field_picture;
    QVPicture merged_picture;
    uint8_t* nal_buffer;
    int nal_buffer_capacity;
    int nal_buffer_length;
    bool key_frame_seen;
    G722Decoder* g722_decoder;
    int demux;
    _demux_buffer* demux_buffer;
    std::vector<const AVInputFormat*> input_formats;
    std::vector<const AVInputFormat*> extra_input_formats;  // Matroska/WebM, MPEG-TS
    bool raw_supported;
    int packet_count;
    int64_t last_raw_time;
    int last_raw_count;
    SnapshotConverter* snapshot_converter;

    // Working state of the FFmpeg 5.1 decoding loop (no allocation per frame).
    std::unique_ptr<AVCodecContext, qv::CodecContextDeleter> file_video_ctx;  // file mode decoders
    std::unique_ptr<AVCodecContext, qv::CodecContextDeleter> file_audio_ctx;
    std::unique_ptr<AVFrame, qv::FrameDeleter> frame;            // reused decoded frame
    std::unique_ptr<AVPacket, qv::PacketDeleter> work_packet;   // reused packet handed to decoders
    std::unique_ptr<AVBufferRef, qv::BufferRefDeleter> input_buffer;  // pushed bytes + zero padding
    int first_field_size;               // bytes allocated in first_field_buffer
    int merged_frame_size;              // bytes allocated in merged_frame_buffer
    int out_picture_size;               // bytes the out_picture planes were laid out for
    bool out_picture_allocated;
    _picture_param converter_source;    // geometry the converter was built for
    // transfer_mode 1: a parser cuts the pushed bytes into whole frames; frames the decoder
    // cannot take yet wait back to back in chunk_queue (their sizes in chunk_sizes, the
    // next one at chunk_head / chunk_head_offset) and go in first on the next calls.
    std::unique_ptr<AVCodecParserContext, qv::ParserDeleter> video_parser;
    std::vector<uint8_t> chunk_input;  // pushed bytes + zero padding, as parsers read ahead
    std::vector<uint8_t> chunk_queue;
    std::vector<int> chunk_sizes;
    size_t chunk_head;
    size_t chunk_head_offset;
    std::unique_ptr<uint8_t, qv::AvFreeDeleter> out_picture_planes;  // aligned scaler target, if needed

    // Audio decoding state.
    std::unique_ptr<SwrContext, qv::SwrDeleter> resampler;  // converts decoded audio to S16
    int resampler_format;
    int resampler_rate;
    int resampler_channels;
    bool audio_packet_sent;  // file mode: the pending packet has been handed to the decoder
    // File mode: the next frame of the pending packet, received ahead so that the caller
    // learns whether the packet still holds audio (empty when nb_samples is 0).
    std::unique_ptr<AVFrame, qv::FrameDeleter> audio_next_frame;

    // File-mode state.
    bool file_draining;

    // Extensions.
    int thread_request;      // decoding threads asked for, used at the next open
    int latency;             // latency_mode asked for, used at the next open
    int picture_flags;       // QV_PICTURE_* of the picture last laid out  // end of file reached: pictures still held by the decoder are delivered
};


// The library's own access to a decoder's implementation (tests, tools inside the tree).
struct QVDecoderInternals {
    static QVDecoder::Impl& Of(QVDecoder& decoder) { return *decoder.impl_; }
    static const QVDecoder::Impl& Of(const QVDecoder& decoder) { return *decoder.impl_; }
};
