#include "stream/field_assembler.h"

#include <cstdlib>
#include <cstring>

#include "base/ffmpeg.h"
#include "base/picture_buffer.h"
#include "stream/field_merge.h"

namespace qv {
namespace {

// Makes sure `buffer` holds at least `size` bytes, and not more than four times that after a
// field-size change; the old contents are not kept. The merged frame is a scaler source, so
// it gets the zeroed tail of every picture buffer.
bool EnsureCapacity(uint8_t*& buffer, int& capacity, int size) {
    if (buffer != nullptr && capacity >= size && 4LL * size >= capacity) return true;
    std::free(buffer);
    buffer = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size) + kPicturePadding, 1));
    capacity = buffer ? size : 0;
    return buffer != nullptr;
}

bool FillPicture(QVPicture& picture, uint8_t* buffer, _picture_param geometry) {
    return av_image_fill_arrays(picture.data, picture.linesize, buffer, static_cast<AVPixelFormat>(geometry.format),
                                geometry.width, geometry.height, 1) >= 0;
}

}  // namespace

bool FieldAssembler::HoldFirstField(const uint8_t* picture, int size, _picture_param field) {
    if (picture == nullptr || size <= 0) return false;
    // The buffer follows the decoded field: a larger field after a picture change gets a
    // larger buffer instead of being copied past the old one.
    if (!EnsureCapacity(first_field_buffer_, first_field_size_, size)) return false;
    if (!FillPicture(first_field_picture_, first_field_buffer_, field)) return false;
    std::memcpy(first_field_buffer_, picture, static_cast<size_t>(size));
    first_field_ = field;
    return true;
}

bool FieldAssembler::Merge(uint8_t* picture, int size, _picture_param field) {
    // Two fields of different size or format cannot be merged into one frame.
    if (field.width != first_field_.width || field.height != first_field_.height ||
        field.format != first_field_.format) {
        return false;
    }
    const int field_size =
        av_image_get_buffer_size(static_cast<AVPixelFormat>(field.format), field.width, field.height, 1);
    if (field_size <= 0 || field_size > first_field_size_ || field_size > size) return false;
    if (!FillPicture(second_field_picture_, picture, field)) return false;
    if (!EnsureCapacity(merged_frame_buffer_, merged_frame_size_, 2 * field_size)) return false;
    if (!FillPicture(merged_picture_, merged_frame_buffer_, _picture_param{field.width, 2 * field.height, field.format})) {
        return false;
    }
    return FieldMergeBob(&first_field_picture_, &second_field_picture_, field, &merged_picture_) == 0;
}

void FieldAssembler::Release() {
    std::free(first_field_buffer_);
    first_field_buffer_ = nullptr;
    first_field_size_ = 0;
    std::free(merged_frame_buffer_);
    merged_frame_buffer_ = nullptr;
    merged_frame_size_ = 0;
}

}  // namespace qv
