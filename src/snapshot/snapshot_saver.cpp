#include "snapshot/snapshot_saver.h"

#include <new>

#include "base/ffmpeg.h"
#include "snapshot/bmp_writer.h"
#include "snapshot/snapshot_converter.h"

namespace qv {

SnapshotConverter* SnapshotSaver::SharedSnapshotConverter(int width, int height, int format) {
    if (snapshot_converter_ && (snapshot_converter_->src_width() != width || snapshot_converter_->src_height() != height ||
                                snapshot_converter_->src_format() != format)) {
        Release();
    }
    if (!snapshot_converter_) {
        snapshot_converter_ =
            new (std::nothrow) SnapshotConverter(width, height, format, width, height, AV_PIX_FMT_BGR24);
        if (!snapshot_converter_) return nullptr;
    }
    // An unusable converter stays until the geometry changes, so a picture that cannot be
    // converted is refused quickly each time instead of rebuilding the scaler.
    return snapshot_converter_->Usable() ? snapshot_converter_ : nullptr;
}

int SnapshotSaver::SavePictureAsBmp(const char* path, const uint8_t* picture, int width, int height, int format,
                                    int colorspace, int range) {
    if (!path || !picture || width <= 0 || height <= 0) return -1;
    // A decoded picture is stored top row first. BGR24 goes straight to the file, its rows
    // walked backwards; every other format is converted and turned over on the way.
    if (format == AV_PIX_FMT_BGR24) return WriteBmp(path, picture, width, height, true);

    SnapshotConverter* converter = SharedSnapshotConverter(width, height, format);
    if (!converter) return -1;
    converter->SetColour(colorspace, range);
    uint8_t* bgr = nullptr;
    if (converter->ConvertFlipped(picture, &bgr) < 0) return -1;
    return WriteBmp(path, bgr, width, height, false);
}

void SnapshotSaver::Release() {
    delete snapshot_converter_;
    snapshot_converter_ = nullptr;
}

}  // namespace qv
