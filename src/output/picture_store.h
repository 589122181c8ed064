// The decoded picture: its record in video_param (codec, geometry, rates, buffer) and the
// contiguous picture buffer, which follows the decoded geometry when it changes.
//
// While output conversion is on, pictures are converted straight from the decoder's frame
// and the frame is only held here; it is laid out in the buffer when something reads the
// decoded picture (a snapshot, the field merge), so the copy is paid only then.
#pragma once

#include <cstdint>

#include "QVDecoder.h"
#include "base/ffmpeg_deleters.h"

namespace qv {

class PictureStore {
public:
    PictureStore();
    ~PictureStore();
    PictureStore(const PictureStore&) = delete;
    PictureStore& operator=(const PictureStore&) = delete;

    // The record; codec id and pixel format hold FFmpeg's values. Video fields only.
    _video_param video_param;

    int width() const { return video_param.width; }
    int height() const { return video_param.height; }
    int format() const { return video_param.pix_fmt; }
    bool SameGeometry(int width, int height, int format) const;

    // Makes a buffer for the recorded geometry: 0, -10005 when the geometry has no positive
    // size (the buffer size is recorded as FFmpeg gives it), -10006 when out of memory.
    int AllocatePictureBuffer();
    // A new geometry asked for by the host: the buffer is made again for it. False (no
    // buffer, geometry unchanged) when the size is refused or memory runs out.
    bool Replace(int width, int height, int format);
    // A decoded picture of another geometry: the buffer follows it and the record takes the
    // new geometry. The buffer is kept when the picture fits it and needs at least a quarter
    // of it, so that one huge picture does not hold its memory until the close.
    void Follow(int width, int height, int format);

    // True when the frame matches the recorded geometry and the buffer holds it.
    bool Fits(const AVFrame* frame) const;
    // Copies a fitting frame into the buffer.
    void LayOut(const AVFrame* frame);
    // Keeps a fitting frame (its reference moves here, nothing is allocated) to be laid out
    // on demand; the frame left behind is empty.
    void Hold(AVFrame* frame);
    // Lays out a held frame, if any: the buffer then holds the last picture.
    void Materialize();
    // The held frame while it is the last picture, else null.
    const AVFrame* held_frame() const;
    // Lays out a held frame not laid out yet straight into the host's `buffer` of `size`
    // bytes; false (nothing written) when there is none or it does not fit.
    bool LayOutInto(uint8_t* buffer, int size) const;
    // The last picture's planes without a copy: the held frame's own, else the buffer's.
    // -1 before the first picture of the current geometry.
    int Planes(uint8_t* data[4], int linesize[4]) const;
    // The colour matrix and range of the last picture (AVColorSpace, AVColorRange).
    int colorspace() const { return colorspace_; }
    bool has_picture() const { return has_picture_; }
    int color_range() const { return color_range_; }
    // The last picture's own display rotation (clockwise degrees), -1 when it states none.
    int rotation() const { return rotation_; }

    // Frees the buffer and clears the record.
    void Release();
    // Bytes the buffer holds (the picture may need fewer).
    int capacity() const { return capacity_; }

private:
    void Forget();
    void NoteColour(const AVFrame* frame);  // and the display rotation the picture states

    FramePtr held_;
    bool held_pending_ = false;
    bool held_is_last_ = false;  // the held frame is the last picture (laid out or not)
    bool has_picture_ = false;   // the buffer or the held frame holds a picture
    int colorspace_ = 2;         // AVCOL_SPC_UNSPECIFIED
    int color_range_ = 0;        // AVCOL_RANGE_UNSPECIFIED
    int rotation_ = -1;
    int capacity_ = 0;
};

int PictureSize(int format, int width, int height);
// Plane pointers and line sizes over a contiguous picture (alignment 1): 0, or -1.
int FillPlanes(uint8_t* buffer, int width, int height, int format, uint8_t* data[4], int linesize[4]);

}  // namespace qv
