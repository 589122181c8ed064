// One libavcodec video decoder: the codec context, the reused frame and the padded packet,
// and the send/receive steps of pushed frames, queued frames and the end-of-stream drain.
#pragma once

#include <cstdint>

#include "base/ffmpeg_deleters.h"
#include "bitstream/h264_frame_num.h"
#include "base/padded_packet.h"

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
    // True (once) when the frames sent show that frames were lost before they reached us
    // (H.264 frame numbers that jump) and the picture in frame() comes from the frame that
    // showed it or a later one.
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
    // For the packets sent from now on: `on` has the decoder discard the pictures no other
    // picture refers to (libavcodec drops them after reading the slice header), as a seek
    // does with pictures it will not show; off returns to the skip mode. Only codecs whose
    // unreferenced pictures are known from their headers alone (H.264, MPEG-1/2, MPEG-4
    // Part 2 B-frames) discard: HEVC's "non-reference" pictures may still serve higher
    // temporal layers. The skip mode of the object, when it skips more, stays.
    void SkipUnreferenced(bool on);

    // Forgets the stream: held pictures are dropped and new input is taken as a fresh start.
    void Restart();

    // Fast decoding: the decoder may skip work an output of out_width x out_height cannot
    // show (see fast_decode.cpp). Off, every picture decodes exactly as without it.
    void SetFast(bool on) { fast_ = on; }
    bool fast() const { return fast_; }
    // After each picture laid out, with its size and the output size it goes to (0 x 0:
    // handed out as decoded); what it decides holds for the packets sent from then on.
    void FollowOutput(int width, int height, int out_width, int out_height);

    // The picture area the parameter sets of an H.264 or HEVC frame (Annex B, or units
    // behind length_size-byte lengths) or the headers of an MPEG-4 Part 2 frame state; 0
    // for other codecs and for frames without readable parameter sets.
    static int64_t StatedArea(int codec_id, const uint8_t* data, int length, int length_size = 0);

private:
    template <typename SendStep>
    int DecodeWith(SendStep send, bool& got);

    CodecContextPtr ctx_;
    FramePtr frame_;
    PaddedPacket input_;
    bool draining_ = false;
    // Sends a demuxed packet (Annex B or length-prefixed) after the checks of a pushed frame.
    int SendPacket(const AVPacket* packet);
    // The send step of both: the size check ahead of the decoder, the numbering of the
    // frame and the frame-number watch behind it.
    template <typename SendStep>
    int SendChecked(const uint8_t* data, int length, int length_size, SendStep send);
    // Reads the context's extradata once: the unit-length size of its packets and, for
    // H.264, the parameter sets the frame-number watch needs.
    void ReadConfig();
    // Numbers the frame about to be sent; Unnumber takes the number back from a frame the
    // decoder could not take yet.
    void Number();
    void Unnumber();
    // Records that the frame just sent shows frames lost before it.
    void NoteLoss();

    H264FrameNumWatch frame_nums_;
    bool config_read_ = false;   // the extradata was read (ReadConfig)
    int unit_length_size_ = 0;   // bytes of the unit lengths of mp4-style packets, 0 for Annex B
    int64_t sent_ = 0;           // frames sent so far, the number of the last one
    int64_t loss_from_ = -1;     // number of the first frame that showed a loss, -1 none
    int64_t max_pixels_ = 0;
    bool over_limit_ = false;
    int skip_ = 0;
    bool unreferenced_skipped_ = false;  // SkipUnreferenced is on

    // Fast decoding (fast_decode.cpp): the loop filter and libavcodec's fast flag are off
    // while filter_skipped_; MJPEG is opened again at another lowres.
    bool ReopenAtLowres(int lowres);
    void SkipLoopFilter(bool on);
    bool fast_ = false;
    bool filter_skipped_ = false;
};

}  // namespace qv
