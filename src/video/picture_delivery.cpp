#include "video/picture_delivery.h"

#include <climits>
#include <cstring>

#include "base/ffmpeg.h"
#include "base/picture_time.h"
#include "output/picture_colour.h"
#include "video/picture_limit.h"

namespace qv {

DecodedPicture PictureDelivery::Decoded(bool opened) const {
    const _video_param& p = picture_.video_param;
    return DecodedPicture{_picture_param{p.width, p.height, static_cast<enum PixelFormat>(p.pix_fmt)},
                          field_coded() ? 2 : 1, opened && p.width > 0 && p.height > 0};
}

OpenOutcome PictureDelivery::AllocatePictureBuffer(const char* wrong_size_message, const char* no_memory_message) {
    const int result = picture_.AllocatePictureBuffer();
    if (result == 0) return OpenOutcome::Done();
    return OpenOutcome::Closed(result, result == -10005 ? wrong_size_message : no_memory_message);
}

int PictureDelivery::DecodeFrame(const uint8_t* data, int length) { return Decode(data, length, nullptr); }

int PictureDelivery::DecodePacket(const AVPacket* packet) { return Decode(packet->data, packet->size, packet); }

int PictureDelivery::Drain() { return Decode(nullptr, 0, nullptr); }

int PictureDelivery::Decode(const uint8_t* data, int length, const AVPacket* packet) {
    if (!video_.ready()) return -10005;
    // A null input of length 0 asks a file decoder for the pictures it still holds;
    // pushed empty input is no frame at all (an empty packet would end the stream).
    const bool drain = !data && length == 0 && file_source_;
    int status = 0;
    bool got_picture = false;
    if (drain) {
        status = video_.StartDrain();
        if (status >= 0) got_picture = video_.ReceiveOne(status);
    } else if (!data || length <= 0) {
        return DeliverPicture(false, 0);
    } else if (packet) {
        status = video_.DecodePacket(packet, got_picture);
    } else {
        status = video_.Decode(data, length, got_picture);
    }
    if (status < 0) reference_missing_ = true;
    const bool laid_out = got_picture && LayOutPicture();
    if (!laid_out && !drain) ExplainMissingPicture(data, length, status);
    return DeliverPicture(laid_out, status);
}

void PictureDelivery::ExplainMissingPicture(const uint8_t* data, int length, int status) {
    // The size is read again only when the decoder failed: frames that merely give no
    // picture yet (reordering, threads, a partial chunk) cost nothing.
    const bool over = video_.TakeOverLimit() || (status < 0 && video_.StatesOverLimit(data, length));
    if (over) LogOverLimit();
}

void PictureDelivery::LogOverLimit() const {
    log_.Log(file_source_ ? "QVDecodeFrame: picture size over the limit."
                          : "QVDecodeVideoFrame: picture size over the limit.",
             15);
}

bool PictureDelivery::LayOutPicture() {
    AVFrame* frame = video_.frame();
    const int field_factor = field_coded() ? 2 : 1;
    const int width = frame->width;
    const int height = frame->height;
    const int format = frame->format;
    // libavcodec refuses such pictures already; a decoder that does not must not make the
    // buffers follow one. The limit is the one the decoder was opened with.
    if (OverLimit(width, height, video_.max_pixels())) {
        av_frame_unref(frame);
        LogOverLimit();
        return false;
    }

    // Output size or format left to follow the decoded picture.
    output_.FillOpenRequest(Decoded(true).source(), width, height, format, field_factor);
    // Picture change: the buffers and the scaler follow the decoded picture. A buffer that
    // a refused picture-size change left missing is made again for the same geometry.
    if (!picture_.SameGeometry(width, height, format)) {
        picture_.Follow(width, height, format);
        output_.FollowPicture(width, height, format, field_factor);
    } else if (!picture_.video_param.video_buffer) {
        picture_.Follow(width, height, format);
    }

    picture_time_ = frame->best_effort_timestamp;
    picture_type_ = frame->pict_type == AV_PICTURE_TYPE_I   ? QV_PICTURE_TYPE_I
                    : frame->pict_type == AV_PICTURE_TYPE_P ? QV_PICTURE_TYPE_P
                    : frame->pict_type == AV_PICTURE_TYPE_B ? QV_PICTURE_TYPE_B
                                                            : 0;
    aspect_num_ = frame->sample_aspect_ratio.num;
    aspect_den_ = frame->sample_aspect_ratio.den;
    const bool key = frame->key_frame != 0;
    if (key) {
        key_frame_seen_ = true;
        reference_missing_ = false;
    }
    if (video_.TakeLoss()) reference_missing_ = true;
    decoder_whole_ = frame->decode_error_flags == 0 && (frame->flags & AV_FRAME_FLAG_CORRUPT) == 0;
    const bool damaged = reference_missing_ || !decoder_whole_;
    // Pictures given up by a drain: the end of a file, or a host's flush.
    const bool drained = video_.draining();

    // The picture is laid out only when it matches the recorded geometry and the buffer
    // holds it; anything else would read past the planes or the buffer.
    if (!picture_.Fits(frame)) {
        av_frame_unref(frame);
        return false;
    }
    // Fast decoding judges the next pictures by what this one is shown at.
    const bool scaled = output_.enabled() && !field_coded();
    video_.FollowOutput(width, height, scaled ? output_.output_param.width : 0,
                        scaled ? output_.output_param.height : 0);
    picture_flags_ =
        (key ? QV_PICTURE_KEY : 0) | (damaged ? QV_PICTURE_DAMAGED : 0) | (drained ? QV_PICTURE_DRAINED : 0);
    output_pending_ = false;
    const int64_t micros = TicksToMicros(picture_time_, video_.context()->pkt_timebase);
    if (passing_before_ == kPassAll || (passing_before_ != INT64_MIN && micros != AV_NOPTS_VALUE && micros < passing_before_)) {
        // A picture passed over on the way to another is only held: no copy, no conversion.
        picture_.Hold(frame);
        return true;
    }
    if (output_.enabled() && !field_coded()) {
        // Converted straight from the decoder's planes when something reads the picture
        // (into the output buffer, or into the host's memory); the decoded picture is laid
        // out in its buffer only when something reads that.
        if (output_.CanConvert(frame)) {
            picture_.Hold(frame);
            output_pending_ = picture_.held_frame() != nullptr;
            if (!output_pending_) output_.ConvertPicture(picture_.video_param.video_buffer, Decoded(true).source());
        } else {
            output_.ConvertFrame(frame);  // says why it cannot
            picture_.Hold(frame);
        }
        // A conversion that cannot be made (an output the scaler refused) leaves no
        // output buffer: no picture then, never success with nothing to read.
        return PictureReady(MergedFrame{});
    }
    if (field_coded()) {
        picture_.LayOut(frame);  // the field merge reads the buffer
        av_frame_unref(frame);
        return true;
    }
    // Held, not copied: a host that reads the planes (QVGetVideoPlanes) pays no copy, and
    // the buffer is laid out only when something reads it.
    picture_.Hold(frame);
    return true;
}

int PictureDelivery::DeliverPicture(bool got_picture, int decode_status) {
    if (decode_status < 0) {
        log_.Log("DecodeVideoFrame: bad video frame data.", 31);
        return -10005;
    }
    if (got_picture) {
        if (modes_.output_mode == OUTPUT_MODE_KEY_FIRST && !key_frame_seen_) {
            log_.Log("DecodeAudioFrame: wrong filed frame data.", 31);
            return -10005;
        }
        return 0;
    }
    log_.Log("DecodeAudioFrame: wrong video data.", 31);
    return -10005;
}

void PictureDelivery::OutputChanged() {
    // A field-coded stream's output is made from the merged frame at the merge.
    const AVFrame* held = picture_.held_frame();
    output_pending_ = output_.enabled() && !field_coded() && held != nullptr;
    // A size or format left open follows this picture, as it would have at its decode.
    if (output_pending_) output_.FillOpenRequest(Decoded(true).source(), held->width, held->height, held->format, 1);
}

unsigned char* PictureDelivery::VideoFrame(const MergedFrame& merged) {
    if (output_.enabled()) {
        if (output_pending_) {
            output_pending_ = false;
            if (const AVFrame* held = picture_.held_frame()) output_.ConvertFrame(held);
        }
        return output_.output_param.video_buffer;
    }
    if (field_coded()) return merged.buffer;
    picture_.Materialize();
    return picture_.video_param.video_buffer;
}

int PictureDelivery::VideoFrameSize(const MergedFrame& merged) const {
    if (output_.enabled()) return output_.output_param.video_buffer_size;
    if (field_coded()) {
        // The merged frame is made again only at the next merge after a field-size change,
        // so until then it may be smaller than twice the current field (or missing): the
        // host must never be told to read more than the buffer holds.
        const long long size = 2LL * picture_.video_param.video_buffer_size;
        return merged.buffer && size <= merged.size ? static_cast<int>(size) : 0;
    }
    return picture_.video_param.video_buffer_size;
}

int PictureDelivery::VideoFrameInto(const MergedFrame& merged, uint8_t* buffer, int size) {
    if (!PictureReady(merged)) return -1;
    const int needed = VideoFrameSize(merged);
    if (size < needed) return QV_ERR_BUFFER_TOO_SMALL;
    if (output_.enabled() && output_pending_) {
        const AVFrame* held = picture_.held_frame();
        if (held && output_.ConvertFrameInto(held, buffer) == 0) return needed;
    } else if (!output_.enabled() && !field_coded() && picture_.LayOutInto(buffer, size)) {
        return needed;
    }
    // Read already (or nothing held): the bytes handed out are there to copy.
    const unsigned char* bytes = VideoFrame(merged);
    if (!bytes) return -1;
    std::memcpy(buffer, bytes, static_cast<size_t>(needed));
    return needed;
}

int PictureDelivery::PictureColourCode() const {
    if (!picture_.has_picture()) return -1;
    const PictureColour colour = ColourOf(picture_.format(), picture_.colorspace(), picture_.color_range());
    int code = QV_COLOUR_BT601;
    switch (colour.matrix) {
        case Matrix::kBt601: code = QV_COLOUR_BT601; break;
        case Matrix::kBt709: code = QV_COLOUR_BT709; break;
        case Matrix::kBt2020: code = QV_COLOUR_BT2020; break;
        case Matrix::kSmpte240m: code = QV_COLOUR_SMPTE240M; break;
        case Matrix::kFcc: code = QV_COLOUR_FCC; break;
    }
    return colour.full_range ? code | QV_COLOUR_FULL_RANGE : code;
}

int PictureDelivery::VideoPlanes(const MergedFrame& merged, uint8_t* data[4], int linesize[4]) const {
    if (output_.enabled()) return FillPlanes(nullptr, 0, 0, 0, data, linesize);
    if (field_coded()) {
        // The merged frame of both fields is the picture a field-coded stream hands out.
        const _video_param& p = picture_.video_param;
        return FillPlanes(VideoFrameSize(merged) > 0 ? merged.buffer : nullptr, p.width, 2 * p.height, p.pix_fmt,
                          data, linesize);
    }
    return picture_.Planes(data, linesize);
}

bool PictureDelivery::PictureReady(const MergedFrame& merged) const {
    const uint8_t* handed_out = output_.enabled() ? output_.output_param.video_buffer
                                : field_coded()   ? merged.buffer
                                                  : picture_.video_param.video_buffer;
    return handed_out && VideoFrameSize(merged) > 0;
}

void PictureDelivery::Release() {
    output_pending_ = false;
    reference_missing_ = false;
    picture_flags_ = 0;
    picture_type_ = 0;
    aspect_num_ = 0;
    aspect_den_ = 1;
}

bool PictureDelivery::PictureAspect(int& num, int& den) const {
    if (aspect_num_ <= 0 || aspect_den_ <= 0) {
        num = den = 1;
        return false;
    }
    av_reduce(&num, &den, aspect_num_, aspect_den_, INT_MAX);
    return true;
}

}  // namespace qv
