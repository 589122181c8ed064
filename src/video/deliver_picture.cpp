// Decoding one compressed video frame into the picture buffer and the output, and the
// accessors of the result.
#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/legacy_ids.h"

qv::DecodedPicture QVDecoder::Impl::Decoded() const {
    const _video_param& p = picture.video_param;
    return qv::DecodedPicture{_picture_param{p.width, p.height, static_cast<enum PixelFormat>(p.pix_fmt)},
                              field_coded() ? 2 : 1, opened && p.width > 0 && p.height > 0};
}

int QVDecoder::Impl::DecodeVideoFrame(const uint8_t* data, int length, const AVPacket* packet) {
    if (!video.ready()) return -10005;
    // A null input of length 0 asks a file decoder for the pictures it still holds;
    // pushed empty input is no frame at all (an empty packet would end the stream).
    const bool drain = !data && length == 0 && file_mode();
    int status = 0;
    bool got_picture = false;
    if (drain) {
        status = video.StartDrain();
        if (status >= 0) got_picture = video.ReceiveOne(status);
    } else if (!data || length <= 0) {
        return DeliverPicture(false, 0);
    } else if (packet) {
        status = video.DecodePacket(packet, got_picture);
    } else {
        status = video.Decode(data, length, got_picture);
    }
    if (status < 0) reference_missing = true;
    const bool laid_out = got_picture && LayOutPicture();
    if (!laid_out && !drain) ExplainMissingPicture(data, length, status);
    return DeliverPicture(laid_out, status);
}

void QVDecoder::Impl::ExplainMissingPicture(const uint8_t* data, int length, int status) {
    // The size is read again only when the decoder failed: frames that merely give no
    // picture yet (reordering, threads, a partial chunk) cost nothing.
    const bool over = video.TakeOverLimit() ||
                      (status < 0 && video.StatesOverLimit(data, length));
    if (over) LogOverLimit();
}

void QVDecoder::Impl::LogOverLimit() const {
    QVDECODE_LOG(file_mode() ? "QVDecodeFrame: picture size over the limit."
                             : "QVDecodeVideoFrame: picture size over the limit.",
                 15);
}

bool QVDecoder::Impl::LayOutPicture() {
    AVFrame* frame = video.frame();
    const int field_factor = field_coded() ? 2 : 1;
    const int width = frame->width;
    const int height = frame->height;
    const int format = frame->format;
    // libavcodec refuses such pictures already; a decoder that does not must not make the
    // buffers follow one. The limit is the one the decoder was opened with.
    if (qv::OverLimit(width, height, video.max_pixels())) {
        av_frame_unref(frame);
        LogOverLimit();
        return false;
    }

    // Output size or format left to follow the decoded picture.
    output.FillOpenRequest(Decoded().source(), width, height, format, field_factor);
    // Picture change: the buffers and the scaler follow the decoded picture. A buffer that
    // a refused picture-size change left missing is made again for the same geometry.
    if (!picture.SameGeometry(width, height, format)) {
        picture.Follow(width, height, format);
        output.FollowPicture(width, height, format, field_factor);
    } else if (!picture.video_param.video_buffer) {
        picture.Follow(width, height, format);
    }

    picture_time = frame->best_effort_timestamp;
    const bool key = frame->key_frame != 0;
    if (key) {
        key_frame_seen = true;
        reference_missing = false;
    }
    if (video.TakeLoss()) reference_missing = true;
    const bool damaged =
        reference_missing || frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0;
    const bool drained = video.draining() || file.draining;

    // The picture is laid out only when it matches the recorded geometry and the buffer
    // holds it; anything else would read past the planes or the buffer.
    if (!picture.Fits(frame)) {
        av_frame_unref(frame);
        return false;
    }
    picture_flags = (key ? QV_PICTURE_KEY : 0) | (damaged ? QV_PICTURE_DAMAGED : 0) | (drained ? QV_PICTURE_DRAINED : 0);
    if (output.enabled() && !field_coded()) {
        // Converted straight from the decoder's planes; the decoded picture is laid out in
        // its buffer only when something reads it.
        output.ConvertFrame(frame);
        picture.Hold(frame);
        // A conversion that cannot be made (an output the scaler refused) leaves no
        // output buffer: no picture then, never success with nothing to read.
        return PictureReady();
    }
    picture.LayOut(frame);
    av_frame_unref(frame);
    return true;
}

bool QVDecoder::Impl::PictureReady() const {
    const uint8_t* handed_out = output.enabled() ? output.output_param.video_buffer
                                : field_coded()  ? fields.merged_frame_buffer()
                                                 : picture.video_param.video_buffer;
    return handed_out && QVGetVideoFrameSize() > 0;
}

int QVDecoder::Impl::DeliverPicture(bool got_picture, int decode_status) {
    if (decode_status < 0) {
        QVDECODE_LOG("DecodeVideoFrame: bad video frame data.", 31);
        return -10005;
    }
    if (got_picture) {
        if (output_mode == 1 && !key_frame_seen) {
            QVDECODE_LOG("DecodeAudioFrame: wrong filed frame data.", 31);
            return -10005;
        }
        return 0;
    }
    QVDECODE_LOG("DecodeAudioFrame: wrong video data.", 31);
    return -10005;
}

unsigned char* QVDecoder::Impl::QVGetVideoFrame() {
    if (output.enabled()) return output.output_param.video_buffer;
    if (field_coded()) return fields.merged_frame_buffer();
    picture.Materialize();
    return picture.video_param.video_buffer;
}

int QVDecoder::Impl::QVGetVideoFrameSize() const {
    if (output.enabled()) return output.output_param.video_buffer_size;
    if (field_coded()) {
        // The merged frame is made again only at the next merge after a field-size change,
        // so until then it may be smaller than twice the current field (or missing): the
        // host must never be told to read more than the buffer holds.
        const long long size = 2LL * picture.video_param.video_buffer_size;
        return fields.merged_frame_buffer() && size <= fields.merged_frame_size() ? static_cast<int>(size) : 0;
    }
    return picture.video_param.video_buffer_size;
}

int QVDecoder::Impl::QVGetParam(_video_param& param) {
    param = picture.video_param;
    const _video_param& a = audio.audio_param;
    param.sample_rate = a.sample_rate;
    param.channels = a.channels;
    param.audio_bit_rate = a.audio_bit_rate;
    param.audio_buffer_size = a.audio_buffer_size;
    param.video_buffer = nullptr;
    param.audio_buffer = nullptr;
    if (field_coded()) param.height *= 2;
    // The host speaks the interface numbering.
    param.codec_id = qv::CodecToLegacy(picture.video_param.codec_id);
    param.pix_fmt = qv::PixelFormatToLegacy(picture.video_param.pix_fmt);
    param.audio_codec_id = qv::CodecToLegacy(a.audio_codec_id);
    return 0;
}
