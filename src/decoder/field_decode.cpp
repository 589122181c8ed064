// Field-coded frames: each pushed frame holds two separately coded fields. They are decoded
// one after the other and the first one is line-doubled into merged_frame_buffer.
#include <cstdlib>
#include <cstring>

#include "core/decoder_impl.h"
#include "bitstream/field_split.h"
#include "core/ffmpeg.h"
#include "core/picture_buffer.h"
#include "decoder/field_merge.h"

namespace {

// Makes sure `buffer` holds at least `size` bytes; the old contents are not kept. The
// merged frame is a scaler source, so it gets the zeroed tail of every picture buffer.
bool EnsureCapacity(uint8_t*& buffer, int& capacity, int size) {
    if (buffer != nullptr && capacity >= size) return true;
    std::free(buffer);
    buffer = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size) + qv::kPicturePadding, 1));
    capacity = buffer ? size : 0;
    return buffer != nullptr;
}

bool FillPicture(QVPicture& picture, uint8_t* buffer, int format, int width, int height) {
    return av_image_fill_arrays(picture.data, picture.linesize, buffer, static_cast<AVPixelFormat>(format),
                                width, height, 1) >= 0;
}

bool SameGeometry(const _picture_param& a, const _picture_param& b) {
    return a.width == b.width && a.height == b.height && a.format == b.format;
}

}  // namespace

int QVDecoder::Impl::DecodeFieldFrame(const uint8_t* data, int length) {
    int cut = qv::GetField(data, length);
    if (cut < 0) {
        QVDECODE_LOG("QVDecodeVideoFrame: only one field found.", 15);
        return -1;
    }

    // The first field must be held within this very input; nothing carries over.
    bool first_held = false;
    bool second_decoded = false;
    _picture_param first_field{};
    int offset = 0;
    for (;;) {
        const int result = DecodeVideoFrame(data + offset, cut);
        offset += cut;
        const _picture_param decoded{video_param.width, video_param.height,
                                     static_cast<enum PixelFormat>(video_param.pix_fmt)};
        if (result == 0 && !first_held) {
            const int size = video_param.video_buffer_size;
            if (video_param.video_buffer == nullptr || size <= 0) return -1;
            // The buffer follows the decoded field: a larger field after a picture change
            // gets a larger buffer instead of being copied past the old one.
            if (!EnsureCapacity(first_field_buffer, first_field_size, size)) return -1;
            if (!FillPicture(first_field_picture, first_field_buffer, decoded.format, decoded.width,
                             decoded.height)) {
                return -1;
            }
            std::memcpy(first_field_buffer, video_param.video_buffer, static_cast<size_t>(size));
            first_field = decoded;
            first_held = true;
        } else if (result == 0) {
            second_decoded = true;  // whatever input follows is not looked at
            break;
        }
        cut = qv::GetField(data + offset, length - offset);
        if (cut < 0) break;
    }

    if (!second_decoded) {
        if (!first_held) {
            QVDECODE_LOG("QVDecodeVideoFrame: only one field found.", 15);
            return -1;
        }
        if (DecodeVideoFrame(data + offset, length - offset) != 0) return -1;
    }

    // Two fields of different size or format cannot be merged into one frame.
    const _picture_param field{video_param.width, video_param.height,
                               static_cast<enum PixelFormat>(video_param.pix_fmt)};
    if (!SameGeometry(field, first_field)) return -1;
    const int field_size =
        av_image_get_buffer_size(static_cast<AVPixelFormat>(field.format), field.width, field.height, 1);
    if (field_size <= 0 || field_size > first_field_size || field_size > video_param.video_buffer_size) {
        return -1;
    }

    if (!FillPicture(second_field_picture, video_param.video_buffer, field.format, field.width,
                     field.height)) {
        return -1;
    }
    if (!EnsureCapacity(merged_frame_buffer, merged_frame_size, 2 * field_size)) return -1;
    if (!FillPicture(merged_picture, merged_frame_buffer, field.format, field.width, 2 * field.height)) {
        return -1;
    }
    if (qv::FieldMergeBob(&first_field_picture, &second_field_picture, field, &merged_picture) != 0) {
        return -1;
    }
    if (output_enabled) ConvertPicture(merged_frame_buffer, output_param.video_buffer);
    return 0;
}
