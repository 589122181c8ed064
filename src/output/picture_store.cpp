#include "output/picture_store.h"

#include <cstring>

#include "base/ffmpeg.h"
#include "base/picture_buffer.h"
#include "output/display_rotation.h"

namespace qv {

int PictureSize(int format, int width, int height) {
    return av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, 1);
}

PictureStore::PictureStore() : held_(av_frame_alloc()) { std::memset(&video_param, 0, sizeof(video_param)); }

PictureStore::~PictureStore() { Release(); }

bool PictureStore::SameGeometry(int width, int height, int format) const {
    return width == video_param.width && height == video_param.height && format == video_param.pix_fmt;
}

int PictureStore::AllocatePictureBuffer() {
    const int size = PictureSize(video_param.pix_fmt, video_param.width, video_param.height);
    video_param.video_buffer_size = size;
    if (size <= 0) return -10005;
    if (video_param.video_buffer) av_freep(&video_param.video_buffer);
    Forget();
    video_param.video_buffer = AllocatePicture(size);
    capacity_ = video_param.video_buffer ? size : 0;
    return video_param.video_buffer ? 0 : -10006;
}

bool PictureStore::Replace(int width, int height, int format) {
    const int size = PictureSize(format, width, height);
    if (video_param.video_buffer) av_freep(&video_param.video_buffer);
    video_param.video_buffer_size = 0;
    Forget();
    // A size FFmpeg refuses gets no buffer at all rather than a bogus allocation.
    video_param.video_buffer = AllocatePicture(size);
    capacity_ = video_param.video_buffer ? size : 0;
    if (!video_param.video_buffer) return false;
    video_param.width = width;
    video_param.height = height;
    video_param.video_buffer_size = size;
    return true;
}

void PictureStore::Follow(int width, int height, int format) {
    const int new_size = PictureSize(format, width, height);
    Forget();
    if (!video_param.video_buffer || new_size <= 0 || new_size > capacity_ || 4LL * new_size < capacity_) {
        av_freep(&video_param.video_buffer);
        video_param.video_buffer_size = 0;
        capacity_ = 0;
        if (new_size > 0) {
            video_param.video_buffer = AllocatePicture(new_size);
            if (video_param.video_buffer) video_param.video_buffer_size = capacity_ = new_size;
        }
    } else {
        video_param.video_buffer_size = new_size;
    }
    video_param.width = width;
    video_param.height = height;
    video_param.pix_fmt = format;
}

bool PictureStore::Fits(const AVFrame* frame) const {
    const int needed = PictureSize(video_param.pix_fmt, video_param.width, video_param.height);
    return frame->data[0] && video_param.video_buffer && needed > 0 && needed <= video_param.video_buffer_size &&
           SameGeometry(frame->width, frame->height, frame->format);
}

void PictureStore::Forget() {
    held_pending_ = false;
    held_is_last_ = false;
    has_picture_ = false;
}

void PictureStore::NoteColour(const AVFrame* frame) {
    colorspace_ = frame->colorspace;
    color_range_ = frame->color_range;
    const AVFrameSideData* matrix = av_frame_get_side_data(frame, AV_FRAME_DATA_DISPLAYMATRIX);
    rotation_ = matrix ? DisplayRotation(matrix->data, matrix->size) : -1;
}

void PictureStore::LayOut(const AVFrame* frame) {
    if (frame != held_.get()) {
        held_is_last_ = false;
        NoteColour(frame);
    }
    held_pending_ = false;
    has_picture_ = true;
    av_image_copy_to_buffer(video_param.video_buffer, video_param.video_buffer_size, frame->data,
                            frame->linesize, static_cast<AVPixelFormat>(video_param.pix_fmt),
                            video_param.width, video_param.height, 1);
}

void PictureStore::Hold(AVFrame* frame) {
    if (!held_) {
        LayOut(frame);  // no frame to hold with: copy now
        av_frame_unref(frame);
        return;
    }
    av_frame_unref(held_.get());
    av_frame_move_ref(held_.get(), frame);
    NoteColour(held_.get());
    held_pending_ = true;
    held_is_last_ = true;
    has_picture_ = true;
}

void PictureStore::Materialize() {
    if (!held_pending_) return;
    held_pending_ = false;
    if (Fits(held_.get())) LayOut(held_.get());
}

const AVFrame* PictureStore::held_frame() const {
    return held_is_last_ && held_ && held_->data[0] ? held_.get() : nullptr;
}

bool PictureStore::LayOutInto(uint8_t* buffer, int size) const {
    if (!held_pending_ || !Fits(held_.get())) return false;
    const int needed = PictureSize(video_param.pix_fmt, video_param.width, video_param.height);
    if (needed <= 0 || needed > size) return false;
    return av_image_copy_to_buffer(buffer, size, held_->data, held_->linesize,
                                   static_cast<AVPixelFormat>(video_param.pix_fmt), video_param.width,
                                   video_param.height, 1) >= 0;
}

int PictureStore::Planes(uint8_t* data[4], int linesize[4]) const {
    for (int i = 0; i < 4; ++i) {
        data[i] = nullptr;
        linesize[i] = 0;
    }
    if (!has_picture_) return -1;
    if (held_is_last_ && held_->data[0]) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(held_->format));
        // Only the picture's planes: a palette or hardware pointer is no plane to read rows from.
        const int planes = desc ? av_pix_fmt_count_planes(static_cast<AVPixelFormat>(held_->format)) : 0;
        for (int i = 0; i < planes && i < 4; ++i) {
            data[i] = held_->data[i];
            linesize[i] = held_->linesize[i];
        }
        return planes > 0 ? 0 : -1;
    }
    if (!video_param.video_buffer) return -1;
    return FillPlanes(video_param.video_buffer, video_param.width, video_param.height, video_param.pix_fmt, data,
                      linesize);
}

int FillPlanes(uint8_t* buffer, int width, int height, int format, uint8_t* data[4], int linesize[4]) {
    for (int i = 0; i < 4; ++i) {
        data[i] = nullptr;
        linesize[i] = 0;
    }
    if (!buffer) return -1;
    return av_image_fill_arrays(data, linesize, buffer, static_cast<AVPixelFormat>(format), width, height, 1) < 0
               ? -1
               : 0;
}

void PictureStore::Release() {
    if (held_) av_frame_unref(held_.get());
    Forget();
    if (video_param.video_buffer) av_freep(&video_param.video_buffer);
    capacity_ = 0;
    std::memset(&video_param, 0, sizeof(video_param));
}

}  // namespace qv
