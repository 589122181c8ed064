#include "video/video_decoder.h"

#include <mutex>

#include "base/ffmpeg.h"
#include "base/library.h"
#include "bitstream/h264_sps.h"
#include "bitstream/hevc_sps.h"
#include "bitstream/mpeg4_vol.h"
#include "video/picture_limit.h"

namespace qv {

void ApplyThreads(AVCodecContext* ctx, int count, bool frame_threads) {
    ctx->thread_count = count;
    ctx->thread_type = count == 1 ? 0 : (frame_threads ? FF_THREAD_FRAME | FF_THREAD_SLICE : FF_THREAD_SLICE);
}

VideoDecoder::VideoDecoder() : frame_(av_frame_alloc()) {}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::Adopt(AVCodecContext* ctx) {
    ctx_.reset(ctx);
    SetSkip(skip_);
    draining_ = false;
    frame_nums_ = H264FrameNumWatch();
    config_read_ = false;
    loss_from_ = -1;
    filter_skipped_ = false;
    if (!frame_) frame_.reset(av_frame_alloc());
}

void VideoDecoder::LimitPictures(int64_t max_pixels) {
    max_pixels_ = max_pixels;
    if (ctx_) ctx_->max_pixels = CodecPixelBound(max_pixels);
}

void VideoDecoder::Close(bool locked) {
    if (frame_) av_frame_unref(frame_.get());
    input_.Release();
    draining_ = false;
    if (!ctx_) return;
    if (locked) {
        std::lock_guard<std::mutex> lock(GlobalLock());
        ctx_.reset();
    } else {
        ctx_.reset();
    }
}

int VideoDecoder::Decode(const uint8_t* data, int length, bool& got) {
    return DecodeWith([&] { return Send(data, length); }, got);
}

int VideoDecoder::DecodePacket(const AVPacket* packet, bool& got) {
    return DecodeWith([&] { return SendPacket(packet); }, got);
}

int VideoDecoder::SendPacket(const AVPacket* packet) {
    if (ctx_ && !config_read_) ReadConfig();
    return SendChecked(packet->data, packet->size, unit_length_size_,
                       [&] { return avcodec_send_packet(ctx_.get(), packet); });
}

template <typename SendStep>
int VideoDecoder::SendChecked(const uint8_t* data, int length, int length_size, SendStep send) {
    if (!ctx_) return send();
    // libavcodec sets up its tables for an H.264, HEVC or MPEG-4 picture size as soon as a
    // frame states it, before it refuses the picture itself (a hundred megabytes and tens
    // of milliseconds for a claimed 16000x16000): such a frame never reaches it. Parameter
    // sets may change anywhere in a file, so every frame is read.
    if (max_pixels_ > 0 && StatedArea(ctx_->codec_id, data, length, length_size) > max_pixels_) {
        over_limit_ = true;
        return AVERROR_INVALIDDATA;
    }
    Number();
    const int status = send();
    // A frame the decoder took (or refused for good) is looked at once; one it could not
    // take yet comes again.
    if (status == AVERROR(EAGAIN)) {
        Unnumber();
        return status;
    }
    if (ctx_->codec_id == AV_CODEC_ID_H264) {
        if (!config_read_) ReadConfig();
        if (frame_nums_.Missing(data, length, length_size)) NoteLoss();
    }
    return status;
}

void VideoDecoder::ReadConfig() {
    config_read_ = true;
    // A decoder configuration record (it starts with version 1, never with a start code)
    // means the packets carry length-prefixed units.
    const uint8_t* extra = ctx_->extradata;
    const int size = ctx_->extradata_size;
    unit_length_size_ = 0;
    if (ctx_->codec_id == AV_CODEC_ID_H264 && size >= 7 && extra[0] == 1) unit_length_size_ = (extra[4] & 3) + 1;
    if (ctx_->codec_id == AV_CODEC_ID_HEVC && size >= 23 && extra[0] == 1) unit_length_size_ = (extra[21] & 3) + 1;
    // mp4-style streams keep their first parameter sets in the extradata.
    if (ctx_->codec_id == AV_CODEC_ID_H264 && unit_length_size_ > 0) frame_nums_.ReadConfig(extra, size);
}

void VideoDecoder::Number() {
    // Each frame's number rides with its picture through reordering and threads, so a loss
    // is laid on the pictures of the frame that showed it and of those behind it.
    ++sent_;
    ctx_->reordered_opaque = sent_;
}

void VideoDecoder::Unnumber() {
    // The frame comes again; a frame the decoder still holds unread keeps its own number.
    --sent_;
    ctx_->reordered_opaque = sent_;
}

void VideoDecoder::NoteLoss() {
    if (loss_from_ < 0) loss_from_ = sent_;
}

template <typename SendStep>
int VideoDecoder::DecodeWith(SendStep send, bool& got) {
    got = false;
    if (!ready()) return AVERROR(EINVAL);
    int status = send();
    if (status == AVERROR(EAGAIN)) {
        // The decoder still holds a picture: it is this call's picture, and the packet goes
        // in behind it.
        got = avcodec_receive_frame(ctx_.get(), frame_.get()) == 0;
        status = send();
        if (status == AVERROR(EAGAIN)) status = 0;
    }
    if (!got && status >= 0) got = ReceiveOne(status);
    return status;
}

int64_t VideoDecoder::StatedArea(int codec_id, const uint8_t* data, int length, int length_size) {
    if (codec_id == AV_CODEC_ID_H264) return H264StatedPictureArea(data, length, length_size);
    if (codec_id == AV_CODEC_ID_HEVC) return HevcStatedPictureArea(data, length, length_size);
    if (codec_id == AV_CODEC_ID_MPEG4 && length_size == 0) return Mpeg4StatedPictureArea(data, length);
    return 0;
}

int VideoDecoder::Send(const uint8_t* data, int length) {
    return SendChecked(data, length, 0, [&] { return input_.Send(ctx_.get(), data, length); });
}

bool VideoDecoder::ReceiveOne(int& status) {
    const int received = Receive();
    if (received < 0 && received != AVERROR(EAGAIN) && received != AVERROR_EOF && status >= 0) status = received;
    return received == 0;
}

bool VideoDecoder::TakeOverLimit() {
    const bool over = over_limit_;
    over_limit_ = false;
    return over;
}

bool VideoDecoder::StatesOverLimit(const uint8_t* data, int length) const {
    if (!ctx_) return false;
    return StatedPictureArea(ctx_->codec_id, ctx_->extradata, ctx_->extradata_size, data, length) > max_pixels_;
}

bool VideoDecoder::TakeLoss() {
    // A picture of a frame sent before the loss came to light still had its references.
    if (loss_from_ < 0 || !frame_ || frame_->reordered_opaque < loss_from_) return false;
    loss_from_ = -1;
    return true;
}

int VideoDecoder::Receive() {
    if (!ready()) return AVERROR(EINVAL);
    return avcodec_receive_frame(ctx_.get(), frame_.get());
}

int VideoDecoder::StartDrain() {
    if (!ready()) return AVERROR(EINVAL);
    if (draining_) return 0;
    const int status = avcodec_send_packet(ctx_.get(), nullptr);
    if (status < 0 && status != AVERROR_EOF) return status;
    draining_ = true;
    return 0;
}

void VideoDecoder::SetSkip(int mode) {
    skip_ = mode;
    unreferenced_skipped_ = false;
    if (!ctx_) return;
    ctx_->skip_frame = mode == 1 ? AVDISCARD_NONREF : (mode == 2 ? AVDISCARD_NONKEY : AVDISCARD_DEFAULT);
}

void VideoDecoder::SkipUnreferenced(bool on) {
    if (!ctx_ || skip_ != 0 || on == unreferenced_skipped_) return;
    switch (ctx_->codec_id) {
        case AV_CODEC_ID_H264:
        case AV_CODEC_ID_MPEG1VIDEO:
        case AV_CODEC_ID_MPEG2VIDEO:
        case AV_CODEC_ID_MPEG4: break;
        default: return;
    }
    // libavcodec reads skip_frame per packet (frame threads copy it with each packet).
    unreferenced_skipped_ = on;
    ctx_->skip_frame = on ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
}

void VideoDecoder::Restart() {
    if (ctx_) avcodec_flush_buffers(ctx_.get());
    if (frame_) av_frame_unref(frame_.get());
    draining_ = false;
    frame_nums_.Reset();
    loss_from_ = -1;
}

}  // namespace qv
