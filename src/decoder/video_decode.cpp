// Decoding one compressed video frame into the picture buffer, and the accessors.
#include <cstring>

#include "core/decoder_impl.h"
#include "bitstream/demux_buffer.h"
#include "bitstream/program_stream.h"
#include "core/ffmpeg.h"
#include "core/picture_buffer.h"
#include "core/legacy_ids.h"

namespace {

int PictureSize(int format, int width, int height) {
    return av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, 1);
}

}  // namespace

int QVDecoder::Impl::QVDecodeVideoFrame(unsigned char* data, int length, int repack) {
    if (!data || length <= 0) return -1;
    const uint8_t* input = data;

    if (repack == 1 && video_param.codec_id == AV_CODEC_ID_H264) {
        if (!FindH264NalUnits(input, length)) return -1;
        input = nal_buffer;
        length = nal_buffer_length;
    }

    if (demux == 1) {
        if (!demux_buffer) {
            demux_buffer = AllocateDemuxBuffer();
            if (!demux_buffer) return -1;
        }
        if (ParsePackHeader(input, length, demux_buffer) < 0) return -1;
        input = demux_buffer->data;
        length = demux_buffer->length;
    }

    if (code_mode == 1) return DecodeFieldFrame(input, length);
    if (UsesChunkedInput()) return DecodeChunkedVideo(input, length) == 0 ? 0 : -1;

    return DecodeVideoFrame(input, length) == 0 ? 0 : -1;
}

const uint8_t* QVDecoder::Impl::PadInput(const uint8_t* data, int length) {
    // libavcodec may read AV_INPUT_BUFFER_PADDING_SIZE bytes past the data, so the
    // bytes go into a padded buffer of our own. The buffer is reference counted: it is
    // reused while the decoder holds no reference to it, so steady state allocates nothing.
    const size_t needed = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    AVBufferRef* buffer = input_buffer.get();
    if (!buffer || buffer->size < needed || !av_buffer_is_writable(buffer)) {
        input_buffer.reset(av_buffer_alloc(needed + needed / 4));
        buffer = input_buffer.get();
        if (!buffer) return nullptr;
    }
    std::memcpy(buffer->data, data, length);
    std::memset(buffer->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    return buffer->data;
}

int QVDecoder::Impl::SendPushedBytes(AVCodecContext* ctx, const uint8_t* data, int length) {
    // The packet refers to the padded buffer instead of owning a copy, so libavcodec
    // takes a reference and never allocates one per frame.
    const uint8_t* padded = PadInput(data, length);
    if (!padded) return AVERROR(ENOMEM);
    av_packet_unref(work_packet.get());
    work_packet->buf = av_buffer_ref(input_buffer.get());
    if (!work_packet->buf) return AVERROR(ENOMEM);
    work_packet->data = const_cast<uint8_t*>(padded);
    work_packet->size = length;
    const int status = avcodec_send_packet(ctx, work_packet.get());
    av_packet_unref(work_packet.get());
    return status;
}

int QVDecoder::Impl::DecodeVideoFrame(const uint8_t* data, int length) {
    const bool file_mode = format_ctx && video_stream;
    AVCodecContext* ctx = file_mode ? file_video_ctx.get() : video_ctx.get();
    if (!ctx) return -10005;
    if (!frame) frame.reset(av_frame_alloc());
    if (!work_packet) work_packet.reset(av_packet_alloc());
    if (!frame || !work_packet) return -10005;

    // A null input of length 0 asks a file decoder for the pictures it still holds;
    // pushed empty input is no frame at all (an empty packet would end the stream).
    const bool drain = !data && length == 0 && file_mode;
    int status = 0;
    bool got_picture = false;
    if (drain) {
        status = avcodec_send_packet(ctx, nullptr);
        if (status == AVERROR_EOF) status = 0;
    } else if (!data || length <= 0) {
        return DeliverPicture(false, 0);
    } else {
        status = SendPushedBytes(ctx, data, length);
        if (status == AVERROR(EAGAIN)) {
            // The decoder still holds a picture: it is this call's picture, and the
            // packet goes in behind it.
            got_picture = avcodec_receive_frame(ctx, frame.get()) == 0;
            status = SendPushedBytes(ctx, data, length);
            if (status == AVERROR(EAGAIN)) status = 0;
        }
    }
    if (!got_picture && status >= 0) {
        const int received = avcodec_receive_frame(ctx, frame.get());
        got_picture = received == 0;
        if (received < 0 && received != AVERROR(EAGAIN) && received != AVERROR_EOF) status = received;
    }
    return DeliverPicture(got_picture, status);
}

int QVDecoder::Impl::DeliverPicture(bool got_picture, int decode_status) {
    AVFrame* picture = frame.get();
    const int field_factor = code_mode == 1 ? 2 : 1;
    const int old_width = video_param.width;
    const int old_height = video_param.height;
    const int old_format = video_param.pix_fmt;
    const int new_width = got_picture ? picture->width : old_width;
    const int new_height = got_picture ? picture->height : old_height;
    const int new_format = got_picture ? picture->format : old_format;

    // Output size or format left to follow the decoded picture.
    if (got_picture && (output_size_set || output_format_set)) {
        bool changed = false;
        if (output_param.pix_fmt == AV_PIX_FMT_NONE) {
            output_param.pix_fmt = new_format;
            changed = true;
        }
        if (output_param.width == 0) {
            output_param.width = new_width;
            changed = true;
        }
        if (output_param.height == 0) {
            output_param.height = new_height * field_factor;
            changed = true;
        }
        if (changed) {
            SetConverter(_picture_param{video_param.width, video_param.height * field_factor,
                                        static_cast<enum PixelFormat>(video_param.pix_fmt)},
                         _picture_param{output_param.width, output_param.height,
                                        static_cast<enum PixelFormat>(output_param.pix_fmt)});
        }
    }

    // Picture change: the buffers and the converter follow the decoded picture.
    if (got_picture &&
        (new_width != old_width || new_height != old_height || new_format != old_format)) {
        if (output_enabled) {
            if (output_format_set) {
                output_param.width = new_width;
                output_param.height = new_height * field_factor;
            }
            if (output_size_set) output_param.pix_fmt = new_format;
        }
        const int new_size = PictureSize(new_format, new_width, new_height);
        const int old_size = PictureSize(old_format, old_width, old_height);
        // The buffer's own size counts too: a picture-size change recorded without a
        // reopen (file mode) leaves a buffer smaller than the old geometry asks for.
        if (new_size > old_size || new_size > video_param.video_buffer_size || new_size <= 0 ||
            !video_param.video_buffer) {
            av_freep(&video_param.video_buffer);
            video_param.video_buffer_size = 0;
            if (new_size > 0) {
                video_param.video_buffer = qv::AllocatePicture(new_size);
                if (video_param.video_buffer) video_param.video_buffer_size = new_size;
            }
        } else {
            video_param.video_buffer_size = new_size;
        }
        if (!output_enabled) {
            output_param.width = new_width;
            output_param.height = new_height;
            output_param.pix_fmt = new_format;
        }
        video_param.width = new_width;
        video_param.height = new_height;
        video_param.pix_fmt = new_format;
        if (output_enabled) {
            DestroyConverter();
            SetConverter(_picture_param{new_width, new_height * field_factor,
                                        static_cast<enum PixelFormat>(new_format)},
                         _picture_param{output_param.width, output_param.height,
                                        static_cast<enum PixelFormat>(output_param.pix_fmt)});
        }
    }

    if (got_picture) {
        if (picture->key_frame) key_frame_seen = true;
        // The picture is laid out only when it matches the recorded geometry and the
        // buffer holds it; anything else would read past the planes or the buffer.
        const int needed = PictureSize(video_param.pix_fmt, video_param.width, video_param.height);
        if (!picture->data[0]) {
            got_picture = false;
        } else if (video_param.video_buffer && needed > 0 && needed <= video_param.video_buffer_size &&
                   picture->width == video_param.width && picture->height == video_param.height &&
                   picture->format == video_param.pix_fmt) {
            av_image_copy_to_buffer(video_param.video_buffer, video_param.video_buffer_size,
                                    picture->data, picture->linesize,
                                    static_cast<AVPixelFormat>(video_param.pix_fmt), video_param.width,
                                    video_param.height, 1);
            if (output_enabled && code_mode != 1) {
                ConvertPicture(video_param.video_buffer, output_param.video_buffer);
            }
        } else {
            got_picture = false;  // no room to deliver it
        }
    }
    av_frame_unref(picture);

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

unsigned char* QVDecoder::Impl::GetVideoFrame() {
    return output_enabled ? output_param.video_buffer : video_param.video_buffer;
}

int QVDecoder::Impl::GetVideoFrameSize() {
    return output_enabled ? output_param.video_buffer_size : video_param.video_buffer_size;
}

unsigned char* QVDecoder::Impl::QVGetVideoFrame() {
    if (output_enabled) return output_param.video_buffer;
    if (code_mode == 1) return merged_frame_buffer;
    return video_param.video_buffer;
}

int QVDecoder::Impl::QVGetVideoFrameSize() {
    if (output_enabled) return output_param.video_buffer_size;
    if (code_mode == 1) {
        // The merged frame is made again only at the next merge after a field-size change,
        // so until then it may be smaller than twice the current field (or missing): the
        // host must never be told to read more than the buffer holds.
        const long long size = 2LL * video_param.video_buffer_size;
        return merged_frame_buffer && size <= merged_frame_size ? static_cast<int>(size) : 0;
    }
    return video_param.video_buffer_size;
}

int QVDecoder::Impl::QVGetParam(_video_param& param) {
    param = video_param;
    param.video_buffer = nullptr;
    param.audio_buffer = nullptr;
    if (code_mode == 1) param.height *= 2;
    // The host speaks the interface numbering.
    param.codec_id = qv::CodecToLegacy(video_param.codec_id);
    param.pix_fmt = qv::PixelFormatToLegacy(video_param.pix_fmt);
    param.audio_codec_id = qv::CodecToLegacy(video_param.audio_codec_id);
    return 0;
}
