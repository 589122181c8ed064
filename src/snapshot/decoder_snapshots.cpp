// The decoder object's snapshots: the current decoded, merged or output picture as a BMP file.
#include "core/decoder_impl.h"
#include "core/ffmpeg.h"

namespace {

// True when a buffer of size bytes holds a whole picture of the given geometry, so that
// a picture parameter changed behind the buffer can never make the save read past it.
bool HoldsPicture(int size, int width, int height, int format) {
    if (width <= 0 || height <= 0) return false;
    const int needed = av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, 1);
    return needed > 0 && size >= needed;
}

}  // namespace

int QVDecoder::Impl::QVSaveCurrentImage(const char* path) {
    if (!path) return -1;
    const _video_param& p = picture.video_param;
    if (!p.video_buffer) return 0;  // nothing decoded yet: no file

    const int width = p.width;
    int height = p.height;
    const int format = p.pix_fmt;
    const uint8_t* bytes = p.video_buffer;
    int size = p.video_buffer_size;
    if (field_coded()) {
        // Field-coded: the picture is the merged frame of twice the field height.
        if (!fields.merged_frame_buffer()) return -1;
        bytes = fields.merged_frame_buffer();
        height *= 2;
        size = fields.merged_frame_size();
    } else {
        picture.Materialize();  // a picture converted straight to the output is laid out now
    }
    if (!HoldsPicture(size, width, height, format)) return -1;
    return snapshots.SavePictureAsBmp(path, bytes, width, height, format) < 0 ? -1 : 0;
}

int QVDecoder::Impl::QVSaveOutputImage(const char* path) {
    if (!path) return -1;
    const _video_param& o = output.output_param;
    if (!o.video_buffer) return QVSaveCurrentImage(path);
    if (!HoldsPicture(o.video_buffer_size, o.width, o.height, o.pix_fmt)) return -1;
    return snapshots.SavePictureAsBmp(path, o.video_buffer, o.width, o.height, o.pix_fmt) < 0 ? -1 : 0;
}
