// Field-coded frames: the first decoded field is kept in first_field_buffer, and once the
// second one is decoded the two become one frame of twice the field height in
// merged_frame_buffer. The buffers follow a change of the field's size or format.
#pragma once

#include <cstdint>

#include "QVDecoder.h"
#include "base/picture.h"

namespace qv {

class FieldAssembler {
public:
    FieldAssembler() = default;
    ~FieldAssembler() { Release(); }
    FieldAssembler(const FieldAssembler&) = delete;
    FieldAssembler& operator=(const FieldAssembler&) = delete;

    // Keeps a copy of the first field (the contiguous picture of the given geometry).
    bool HoldFirstField(const uint8_t* picture, int size, _picture_param field);
    // Builds the merged frame from the kept first field and the second field `picture`
    // (`size` bytes). False when the two fields differ in geometry or a buffer is missing.
    bool Merge(uint8_t* picture, int size, _picture_param field);

    uint8_t* merged_frame_buffer() const { return merged_frame_buffer_; }
    int merged_frame_size() const { return merged_frame_size_; }
    void Release();

private:
    uint8_t* first_field_buffer_ = nullptr;
    int first_field_size_ = 0;
    uint8_t* merged_frame_buffer_ = nullptr;
    int merged_frame_size_ = 0;
    _picture_param first_field_{};
    QVPicture first_field_picture_{};
    QVPicture second_field_picture_{};
    QVPicture merged_picture_{};
};

}  // namespace qv
