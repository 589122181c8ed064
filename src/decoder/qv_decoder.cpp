// The public class: every method hands over to the implementation object.
#include "QVDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "base/log_scrub.h"
#include "decoder/decoder_impl.h"

QVDecoder::QVDecoder() : impl_(new Impl()) {}

QVDecoder::QVDecoder(_picture_param output, char high_quality) : impl_(new Impl(output, high_quality)) {}

QVDecoder::~QVDecoder() = default;

QVDecoder::QVDecoder(QVDecoder&& other) noexcept : QVDecoder() { *this = std::move(other); }

QVDecoder& QVDecoder::operator=(QVDecoder&& other) noexcept {
    if (this == &other) return *this;
    // The source keeps this object's state, closed: it stays usable and owns nothing.
    QVClose();
    std::swap(impl_, other.impl_);
    return *this;
}

void QVDecoder::QVClose() { impl_->QVClose(); }
int QVDecoder::QVDecoderRegisterLog(QVLogCallback callback, int level) {
    return impl_->QVDecoderRegisterLog(callback, level);
}
int QVDecoder::QVDecoderSetParam(_decoder_param param) { return impl_->QVDecoderSetParam(param); }
int QVDecoder::QVDecoderSetEncodeMode(enum code_mode mode) { return impl_->QVDecoderSetEncodeMode(mode); }
int QVDecoder::QVDecoderSetStreamMode(enum transfer_mode mode) { return impl_->QVDecoderSetStreamMode(mode); }
int QVDecoder::QVDecoderSetOutputMode(enum output_mode mode) { return impl_->QVDecoderSetOutputMode(mode); }
int QVDecoder::QVDecoderSetDemux(int demux) { return impl_->QVDecoderSetDemux(demux); }

int QVDecoder::QVOpenDecoder(enum CodecID codec, _picture_param picture) {
    return impl_->QVOpenDecoder(codec, picture);
}
int QVDecoder::QVOpenDecoder(enum CodecID codec, _audio_param audio) { return impl_->QVOpenDecoder(codec, audio); }
int QVDecoder::QVOpenDecoder(enum CodecID video_codec, _picture_param picture, enum CodecID audio_codec,
                             _audio_param audio) {
    return impl_->QVOpenDecoder(video_codec, picture, audio_codec, audio);
}
int QVDecoder::QVSetPictureParam(_picture_param picture) { return impl_->QVSetPictureParam(picture); }
int QVDecoder::QVDecodeVideoFrame(unsigned char* data, int length, int repack) {
    return impl_->QVDecodeVideoFrame(data, length, repack);
}
int QVDecoder::QVDecodeAudioFrame(unsigned char* data, int size) { return impl_->QVDecodeAudioFrame(data, size); }

unsigned char* QVDecoder::QVGetVideoFrame() { return impl_->QVGetVideoFrame(); }
int QVDecoder::QVGetVideoFrameSize() { return impl_->QVGetVideoFrameSize(); }
int QVDecoder::QVGetVideoFrameInto(unsigned char* buffer, int size) {
    return impl_->QVGetVideoFrameInto(buffer, size);
}
int QVDecoder::QVGetParam(_video_param& param) { return impl_->QVGetParam(param); }
unsigned char* QVDecoder::QVGetAudioFrame() { return impl_->QVGetAudioFrame(); }
int QVDecoder::QVGetAudioFrameSize() { return impl_->QVGetAudioFrameSize(); }

int QVDecoder::QVOpen(const char* name) { return impl_->QVOpen(name); }
int QVDecoder::QVDecodeFrame() { return impl_->QVDecodeFrame(); }
int64_t QVDecoder::QVGetFrameTimestamp() { return impl_->QVGetFrameTimestamp(); }
int QVDecoder::QVGetVideoRawFrame(unsigned char* buffer, int size, int& header_length, int64_t& timestamp_ms,
                                  int& key_flag, int& position) {
    return impl_->QVGetVideoRawFrame(buffer, size, header_length, timestamp_ms, key_flag, position);
}
int QVDecoder::QVGetVideoRawFrame(unsigned char* buffer, int size, int64_t& timestamp_ms, int& key_flag) {
    return impl_->QVGetVideoRawFrame(buffer, size, timestamp_ms, key_flag);
}

void QVDecoder::QVSetOutput(_picture_param picture, char high_quality) { impl_->QVSetOutput(picture, high_quality); }
void QVDecoder::QVSetOutputFormat(enum PixelFormat format, char high_quality) {
    impl_->QVSetOutputFormat(format, high_quality);
}
void QVDecoder::QVSetOutputResolution(int width, int height, char high_quality) {
    impl_->QVSetOutputResolution(width, height, high_quality);
}
void QVDecoder::QVGetOutputResolution(int& width, int& height) { impl_->QVGetOutputResolution(width, height); }

int QVDecoder::QVSaveCurrentImage(const char* path) { return impl_->QVSaveCurrentImage(path); }
int QVDecoder::QVSaveOutputImage(const char* path) { return impl_->QVSaveOutputImage(path); }

int QVDecoder::QVReceiveVideoFrame() { return impl_->QVReceiveVideoFrame(); }
int QVDecoder::QVFlushVideo() { return impl_->QVFlushVideo(); }
int QVDecoder::QVGetPictureFlags() { return impl_->QVGetPictureFlags(); }
int QVDecoder::QVGetVideoRawFrameSize() { return impl_->QVGetVideoRawFrameSize(); }
enum PixelFormat QVDecoder::QVGetOutputFormat() { return impl_->QVGetOutputFormat(); }
int QVDecoder::QVDecoderSetLatencyMode(enum latency_mode mode) { return impl_->QVDecoderSetLatencyMode(mode); }
int QVDecoder::QVDecoderSetThreads(int count) { return impl_->QVDecoderSetThreads(count); }
int QVDecoder::QVDecoderSetMaxPixels(int64_t max_pixels) { return impl_->QVDecoderSetMaxPixels(max_pixels); }
int QVDecoder::QVDecoderSetFastDecode(int on) { return impl_->QVDecoderSetFastDecode(on); }
int QVDecoder::QVDecoderSelectStreams(int video, int audio) { return impl_->QVDecoderSelectStreams(video, audio); }
int64_t QVDecoder::QVGetMaxPixels() { return impl_->QVGetMaxPixels(); }
const char* QVDecoder::QVGetOpenError() { return impl_->QVGetOpenError(); }

int QVDecoder::QVMaskPassword(const char* text, char* buffer, int size) {
    if (!text || size < 0 || (size > 0 && !buffer)) return -1;
    try {
        // The rule the library's log follows, on a copy of the text.
        std::string masked(text);
        qv::ScrubCredentials(masked);
        if (masked.size() > static_cast<size_t>(INT_MAX)) return -1;
        const int length = static_cast<int>(masked.size());
        if (size > 0) {
            const int copied = std::min(length, size - 1);
            std::memcpy(buffer, masked.data(), static_cast<size_t>(copied));
            buffer[copied] = '\0';
        }
        return length;
    } catch (...) {
        return -1;
    }
}

int QVDecoder::QVDecoderSetTimeout(int ms) { return impl_->QVDecoderSetTimeout(ms); }
int QVDecoder::QVDecoderSetNetworkOption(const char* key, const char* value) {
    return impl_->QVDecoderSetNetworkOption(key, value);
}
void QVDecoder::QVInterrupt() { impl_->QVInterrupt(); }
int64_t QVDecoder::QVGetPictureTime() { return impl_->QVGetPictureTime(); }
int64_t QVDecoder::QVGetFrameCount() { return impl_->QVGetFrameCount(); }
int64_t QVDecoder::QVGetStatedVideoBitRate() { return impl_->QVGetStatedBitRate(false); }
int64_t QVDecoder::QVGetStatedAudioBitRate() { return impl_->QVGetStatedBitRate(true); }
int QVDecoder::QVGetPictureType() { return impl_->QVGetPictureType(); }
int QVDecoder::QVGetPictureAspect(int& num, int& den) { return impl_->QVGetPictureAspect(num, den); }
int QVDecoder::QVGetPictureRotation() { return impl_->QVGetPictureRotation(); }
int64_t QVDecoder::QVGetPictureWallclock() { return impl_->QVGetPictureWallclock(); }
int64_t QVDecoder::QVGetPictureDelay() { return impl_->QVGetPictureDelay(); }
int QVDecoder::QVSeek(int64_t time_us, int flags) { return impl_->QVSeek(time_us, flags); }
int QVDecoder::QVDecoderSetFrameSkip(int mode) { return impl_->QVDecoderSetFrameSkip(mode); }
int64_t QVDecoder::QVGetDuration() { return impl_->QVGetDuration(); }
int64_t QVDecoder::QVGetStartTime() { return impl_->QVGetStartTime(); }

int QVDecoder::QVDecoderSetConverter(int engine) { return impl_->QVDecoderSetConverter(engine); }
int QVDecoder::QVGetPictureColour() { return impl_->QVGetPictureColour(); }
int QVDecoder::QVGetVideoPlanes(unsigned char* data[4], int linesize[4]) {
    if (!data || !linesize) return -1;
    return impl_->QVGetVideoPlanes(data, linesize);
}

int QVDecoder::QVDecoderSetMaxLatency(int ms) { return impl_->QVDecoderSetMaxLatency(ms); }

int64_t QVDecoder::QVGetSkippedPictures() { return impl_->QVGetSkippedPictures(); }
