// Snapshots of the object's pictures: one shared converter to BGR24, rebuilt when the
// picture geometry changes, and the BMP write.
#pragma once

#include <cstdint>

class SnapshotConverter;

namespace qv {

class SnapshotSaver {
public:
    SnapshotSaver() = default;
    ~SnapshotSaver() { Release(); }
    SnapshotSaver(const SnapshotSaver&) = delete;
    SnapshotSaver& operator=(const SnapshotSaver&) = delete;

    // Writes a contiguous picture (FFmpeg pixel format, top row first) upright as a BMP file,
    // converted with its colour matrix and range (AVColorSpace, AVColorRange; untagged by default).
    int SavePictureAsBmp(const char* path, const uint8_t* picture, int width, int height, int format,
                         int colorspace = 2, int range = 0);
    const SnapshotConverter* snapshot_converter() const { return snapshot_converter_; }
    void Release();

private:
    SnapshotConverter* SharedSnapshotConverter(int width, int height, int format);

    SnapshotConverter* snapshot_converter_ = nullptr;
};

}  // namespace qv
