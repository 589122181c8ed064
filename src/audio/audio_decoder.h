// Audio of one object: the library's own G.722 decoder, libG7221 or a libavcodec decoder,
// the resampler that turns libavcodec's output into interleaved signed 16-bit samples, and
// the audio buffer they fill.
//
// Result of DecodeAudioFrame (callers test its sign; file mode also advances by it):
//  - G.722 and G.722.1: the decoded byte count (0: nothing came out).
//  - libavcodec decoders: input bytes accounted for, always > 0 when audio came out.
//    Stream mode (pushed frames): the packet is sent once and every frame it yields is
//    converted and laid end to end in the audio buffer; the result is the whole size.
//    File mode: one decoded frame per call. The first call for a packet sends it; while the
//    packet still holds frames after the one handed out, the result is 1 (one byte
//    accounted), so the caller advances by 1 and calls again with the rest of the packet,
//    whose bytes are not looked at again. The call that hands out the packet's last frame
//    (or finds it held none) reports all remaining bytes, so the caller's offset reaches the
//    packet's end exactly when its audio is exhausted. When only one byte remains and
//    frames are left, they are all laid end to end in this call.
//  - Negative on failure: -10005 (audio_frame_size set to 0 when the decoder refused the
//    data or the decoded audio does not fit the 192000-byte buffer; audio is never cut).
#pragma once

#include <cstdint>

#include "QVDecoder.h"
#include "base/ffmpeg_deleters.h"
#include "base/logger.h"
#include "base/padded_packet.h"

class G722Decoder;

namespace qv {

class AudioDecoder {
public:
    explicit AudioDecoder(const Logger& log);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // The audio half of the object's record: codec (FFmpeg's value or an own id), rate,
    // channels, bit rate and the buffer. The video fields stay zero.
    _video_param audio_param;
    int audio_frame_size = 0;

    // Records the stream's parameters and makes the 192000-byte buffer: 0 or -10006.
    int InitializeAudio(int sample_rate, int bit_rate, int channels, int codec);
    // The decoders that are not libavcodec's: 0 when set up, -1 when refused, 1 for others.
    int SetUpOwnAudioDecoder(int codec, _audio_param audio);
    // libavcodec's decoder for a pushed stream. 0, or the failure code with its message in
    // *message (the caller closes the object, then logs it).
    int OpenAudioCodec(int codec, _audio_param audio, bool combined, const char** message);
    // A file stream's decoder context, opened by the caller.
    void AdoptFileContext(AVCodecContext* ctx);

    // `notes`: in file mode, the demuxed packet whose bytes these are (its side data tells
    // the decoder which samples the stream drops, such as an AAC encoder's start-up delay).
    int DecodeAudioFrame(const uint8_t* data, int size, bool file_mode, const AVPacket* notes = nullptr);
    // Drops the resampler and any frame still to be handed out.
    void ResetAudioDecoding();
    // The pending file packet was dropped: the next one is sent afresh.
    void ForgetPacket() { packet_sent_ = false; }
    // A file moved to another place: what the codec keeps of the audio before is dropped.
    void Restart();
    bool has_codec_context() const { return ctx_ != nullptr; }
    // Closes the stream decoder under the global lock (a second open replaces it).
    void CloseStreamContext();
    // Releases everything; the record is cleared.
    void Release();

    const AVCodecContext* context() const { return ctx_.get(); }
    const G722Decoder* g722_decoder() const { return g722_decoder_; }
    const AVFrame* next_frame() const { return next_frame_.get(); }
    // The time libavcodec gives the first samples the last DecodeAudioFrame handed out, in
    // the packet time base (AV_NOPTS_VALUE when it gave none): past the packet's own time
    // when the stream drops the packet's first samples (an edit list's cut).
    int64_t piece_pts() const { return piece_pts_; }

private:
    int OpenG722Decoder(int sample_rate, int bit_rate, int channels);
    int DecodeWithCodec(const uint8_t* data, int size, bool file_mode, const AVPacket* notes);
    int AppendAudio(const AVFrame* decoded, int offset);  // bytes written at offset, or -1

    const Logger& log_;
    CodecContextPtr ctx_;
    bool file_context_ = false;  // ctx_ belongs to a file stream (closed without the lock)
    G722Decoder* g722_decoder_ = nullptr;
    FramePtr frame_;
    // File mode: the next frame of the pending packet, received ahead so that the caller
    // learns whether the packet still holds audio (empty when nb_samples is 0).
    FramePtr next_frame_;
    PaddedPacket input_;
    bool packet_sent_ = false;  // file mode: the pending packet has been handed to the decoder
    SwrPtr resampler_;
    int resampler_format_ = -1;
    int resampler_rate_ = 0;
    int resampler_channels_ = 0;
    int64_t piece_pts_ = INT64_MIN;  // AV_NOPTS_VALUE
};

}  // namespace qv
