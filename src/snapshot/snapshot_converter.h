// Converts decoded pictures to upright packed BGR24 for BMP snapshots.
#pragma once

#include <cstdint>

#include "QVDecoder.h"

class SnapshotConverter {
public:
    // Formats are FFmpeg pixel formats.
    SnapshotConverter(int src_width, int src_height, int src_format, int dst_width, int dst_height,
                      int dst_format);
    ~SnapshotConverter();
    SnapshotConverter(const SnapshotConverter&) = delete;
    SnapshotConverter& operator=(const SnapshotConverter&) = delete;

    // Converts the picture at data into the converter's buffer; returns its size or -1.
    int Convert(const uint8_t* data, uint8_t** out, int flip);
    int ConvertFlipped(const uint8_t* data, uint8_t** out) { return Convert(data, out, 1); }

    bool Usable() const;
    int src_width() const { return src_width_; }
    int src_height() const { return src_height_; }
    int src_format() const { return src_format_; }

private:
    SwsContext* scaler_ = nullptr;
    int src_width_ = 0;
    int src_height_ = 0;
    int src_format_ = -1;
    int dst_width_ = 0;
    int dst_height_ = 0;
    int dst_format_ = -1;
    QVPicture dst_picture_{};
    int dst_buffer_size_ = 0;
    uint8_t* dst_buffer_ = nullptr;
    uint8_t* dst_planes_ = nullptr;  // allocation behind dst_picture_
};
