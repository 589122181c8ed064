// One libavcodec video decoder: the codec context, the reused frame and the padded packet,
// and the send/receive steps of pushed frames, queued frames and the end-of-stream drain.
#pragma once

#include <cstdint>

#include "core/ffmpeg_deleters.h"
#include "bitstream/h264_frame_num.h"
#include "video/padded_packet.h"

namespace qv {

// Decoding threads for a context about to be opened: count 1 keeps one picture per pushed
// frame; 0 means one per core. Frame threads only where pictures may come out later.
void ApplyThreads(AVCodecContext* ctx, int count, bool frame_threads);

class VideoDecoder {
public:
    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Takes an allocated context (opened or not); the previous one is closed.
    void Adopt(AVCodecContext* ctx);
    // The largest picture (width x height) the context, not yet opened, may decode.
    void LimitPictures(int64_t max_pixels);
    int64_t max_pixels() const { return max_pixels_; }
    // Closes the context; `locked` takes the library's global lock around the close.
    void Close(bool locked);
    AVCodecContext* context() const { return ctx_.get(); }
    // The frame the last step decoded into (empty when none); reused from call to call.
    AVFrame* frame() const { return frame_.get(); }
    bool ready() const { return ctx_ && frame_; }

    // Sends one compressed frame and takes at most one picture into frame(). A decoder that
    // refuses the frame because it still holds a picture gives that picture first and takes
    // the frame behind it. Returns the first failure (< 0) or 0; `got` tells about a picture.
    int Decode(const uint8_t* data, int length, bool& got);
    // The same for a demuxed packet, which is padded already and goes in as it is.
    int DecodePacket(const AVPacket* packet, bool& got);
    // Sends one frame of a queue: AVERROR(EAGAIN) when the decoder must give a picture first.
    int Send(const uint8_t* data, int length);
    // True (once) when the frames sent since the last call show that frames were lost
    // before they reached us (H.264 frame numbers that jump).
    bool TakeLoss();
    // True (once) when a frame was kept from the decoder since the last call because its
    // parameter sets state a picture over the limit.
    bool TakeOverLimit();
    // True when the frame states a picture over the limit, read by the codec's parser.
    bool StatesOverLimit(const uint8_t* data, int length) const;
    // Takes the next picture the decoder holds, without new input: 0, AVERROR(EAGAIN) when
    // it needs input, AVERROR_EOF when a drain is over, or a decoding failure.
    int Receive();
    // Receive for a decoding step: true with a picture; a decoding failure goes to `status`
    // unless it already holds one (needing input and the end of a drain are no failures).
    bool ReceiveOne(int& status);
    // Tells the decoder the stream has ended; its held pictures then come out through Receive.
    int StartDrain();
    bool draining() const { return draining_; }
    // Pictures the decoder skips: 0 none, 1 those no other picture refers to (libavcodec
    // skips them before decoding), 2 all but key frames (their packets are held back by the
    // reader; the decoder is told as well). Holds for this context and the ones adopted later.
    void SetSkip(int mode);
    int skip() const { return skip_; }

    // Forgets the stream: held pictures are dropped and new input is taken as a fresh start.
    void Restart();

    // The picture area the parameter sets of an Annex B H.264 or HEVC frame state; 0 for
    // other codecs and for frames without a readable SPS.
    static int64_t StatedArea(int codec_id, const uint8_t* data, int length);

private:
    template <typename SendStep>
    int DecodeWith(SendStep send, bool& got);

    CodecContextPtr ctx_;
    FramePtr frame_;
    PaddedPacket input_;
    bool draining_ = false;
    H264FrameNumWatch frame_nums_;
    bool loss_ = false;
    int64_t max_pixels_ = 0;
    bool over_limit_ = false;
    int skip_ = 0;
};

}  // namespace qv
