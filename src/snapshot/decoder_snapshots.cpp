// The decoder object's snapshots: the current decoded, merged or output picture as a BMP file.
#include <new>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "snapshot/bmp_writer.h"
#include "snapshot/snapshot_converter.h"

SnapshotConverter* QVDecoder::Impl::SharedSnapshotConverter(int width, int height, int format) {
    if (snapshot_converter &&
        (snapshot_converter->src_width() != width || snapshot_converter->src_height() != height ||
         snapshot_converter->src_format() != format)) {
        delete snapshot_converter;
        snapshot_converter = nullptr;
    }
    if (!snapshot_converter) {
        snapshot_converter = new (std::nothrow)
            SnapshotConverter(width, height, format, width, height, AV_PIX_FMT_BGR24);
        if (!snapshot_converter) return nullptr;
    }
    // An unusable converter stays until the geometry changes, so a picture that cannot be
    // converted is refused quickly each time instead of rebuilding the scaler.
    return snapshot_converter->Usable() ? snapshot_converter : nullptr;
}

int QVDecoder::Impl::SavePictureAsBmp(const char* path, const uint8_t* picture, int width, int height,
                                int format) {
    if (!path || !picture || width <= 0 || height <= 0) return -1;
    // A decoded picture is stored top row first. BGR24 goes straight to the file, its rows
    // walked backwards; every other format is converted and turned over on the way.
    if (format == AV_PIX_FMT_BGR24) return qv::WriteBmp(path, picture, width, height, true);

    SnapshotConverter* converter = SharedSnapshotConverter(width, height, format);
    if (!converter) return -1;
    uint8_t* bgr = nullptr;
    if (converter->ConvertFlipped(picture, &bgr) < 0) return -1;
    return qv::WriteBmp(path, bgr, width, height, false);
}

namespace {

// True when a buffer of size bytes holds a whole picture of the given geometry, so that
// a picture parameter changed behind the buffer can never make the save read past it.
bool HoldsPicture(int size, int width, int height, int format) {
    if (width <= 0 || height <= 0) return false;
    const int needed =
        av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, 1);
    return needed > 0 && size >= needed;
}

}  // namespace

int QVDecoder::Impl::QVSaveCurrentImage(const char* path) {
    if (!path) return -1;
    if (!video_param.video_buffer) return 0;  // nothing decoded yet: no file

    const int width = video_param.width;
    int height = video_param.height;
    const int format = video_param.pix_fmt;
    const uint8_t* picture = video_param.video_buffer;
    int size = video_param.video_buffer_size;
    if (code_mode == CODE_MODE_FIELD) {
        // Field-coded: the picture is the merged frame of twice the field height.
        if (!merged_frame_buffer) return -1;
        picture = merged_frame_buffer;
        height *= 2;
        size = merged_frame_size;
    }
    if (!HoldsPicture(size, width, height, format)) return -1;
    return SavePictureAsBmp(path, picture, width, height, format) < 0 ? -1 : 0;
}

int QVDecoder::Impl::QVSaveOutputImage(const char* path) {
    if (!path) return -1;
    if (!output_param.video_buffer) return QVSaveCurrentImage(path);

    const int width = output_param.width;
    const int height = output_param.height;
    const int format = output_param.pix_fmt;
    if (!HoldsPicture(output_param.video_buffer_size, width, height, format)) return -1;
    return SavePictureAsBmp(path, output_param.video_buffer, width, height, format) < 0 ? -1 : 0;
}
