// Building one full-height picture from the fields of a field-coded frame.
//
// The pictures are plane records laid over contiguous buffers as av_image_fill_arrays
// (alignment 1) lays them: `first` and `second` hold one field each, `field` gives the
// field's width, height and FFmpeg pixel format, and `merged` is laid over a buffer of at
// least twice the field's size with the field's width and twice its height.
// Accepted formats: YUV420P, RGB24, BGR24, YUV422P, YUV444P, YUV411P, GRAY8.
// Each returns 0 when `merged` was written, -1 (and `merged` untouched) otherwise.
#pragma once

#include "QVDecoder.h"
#include "base/ffmpeg_deleters.h"
#include "base/picture.h"

namespace qv {

// Line doubling of the first field: every row is followed by the mean of it and the next
// row (the last row by itself). The second field is only checked, never read.
int FieldMergeBob(const QVPicture* first, const QVPicture* second, _picture_param field,
                  QVPicture* merged);

// Weave: rows of the first field on even lines, rows of the second on odd lines.
int FieldMerge(const QVPicture* first, const QVPicture* second, _picture_param field,
               QVPicture* merged);

// Weave of YUV420P fields with a 1-2-1 vertical filter across the woven lines; the last
// argument is the field's row count (at most the field's height), the other is unused.
int FieldMergeYUV420P(const QVPicture* first, const QVPicture* second, _picture_param field,
                      QVPicture* merged, int unused, int rows);

}  // namespace qv
