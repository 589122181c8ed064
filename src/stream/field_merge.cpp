#include "stream/field_merge.h"

#include <cstring>

#include "base/ffmpeg.h"

namespace qv {
namespace {

bool SameLineSizes(const QVPicture& a, const QVPicture& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.linesize[i] != b.linesize[i]) return false;
    }
    return true;
}

bool IsMergeableFormat(int format) {
    switch (format) {
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_RGB24:
        case AV_PIX_FMT_BGR24:
        case AV_PIX_FMT_YUV422P:
        case AV_PIX_FMT_YUV444P:
        case AV_PIX_FMT_YUV411P:
        case AV_PIX_FMT_GRAY8:
            return true;
        default:
            return false;
    }
}

// The checks every merge makes; gives the size of one field in bytes.
bool CheckPictures(const QVPicture* first, const QVPicture* second, const _picture_param& field,
                   QVPicture* merged, int& field_size) {
    if (first == nullptr || second == nullptr || merged == nullptr) return false;
    if (!SameLineSizes(*first, *second) || !SameLineSizes(*first, *merged)) return false;
    if (!IsMergeableFormat(field.format)) return false;
    field_size = av_image_get_buffer_size(static_cast<AVPixelFormat>(field.format), field.width,
                                          field.height, 1);
    return field_size > 0;
}

bool PlanePresent(const QVPicture* first, const QVPicture* second, const QVPicture* merged, int i) {
    return first->data[i] && second->data[i] && merged->data[i] && first->linesize[i] > 0;
}

// Bytes of plane i in a contiguous picture: up to the next plane, or for the last plane up
// to `total` bytes from plane 0.
long long PlaneBytes(const QVPicture& picture, int i, long long total) {
    if (i == 3 || picture.linesize[i + 1] <= 0 || picture.data[i + 1] == nullptr) {
        return total - (picture.data[i] - picture.data[0]);
    }
    return picture.data[i + 1] - picture.data[i];
}

}  // namespace

int FieldMergeBob(const QVPicture* first, const QVPicture* second, _picture_param field,
                  QVPicture* merged) {
    int field_size = 0;
    if (!CheckPictures(first, second, field, merged, field_size)) return -1;

    for (int i = 0; i < 4; ++i) {
        if (!PlanePresent(first, second, merged, i)) continue;
        const int line = first->linesize[i];
        const long long rows = PlaneBytes(*first, i, field_size) / line;
        if (rows <= 0) continue;
        const uint8_t* src = first->data[i];
        uint8_t* dst = merged->data[i];
        for (long long j = 0; j < rows; ++j) {
            const uint8_t* row = src + j * line;
            uint8_t* even = dst + 2 * j * line;
            uint8_t* odd = even + line;
            std::memcpy(even, row, static_cast<size_t>(line));
            if (j + 1 < rows) {
                const uint8_t* below = row + line;
                for (int k = 0; k < line; ++k) odd[k] = static_cast<uint8_t>((row[k] + below[k]) >> 1);
            } else {
                std::memcpy(odd, row, static_cast<size_t>(line));
            }
        }
    }
    return 0;
}

int FieldMerge(const QVPicture* first, const QVPicture* second, _picture_param field,
               QVPicture* merged) {
    int field_size = 0;
    if (!CheckPictures(first, second, field, merged, field_size)) return -1;

    for (int i = 0; i < 4; ++i) {
        if (!PlanePresent(first, second, merged, i)) continue;
        const int line = first->linesize[i];
        // Rows present in each field, and bytes the merged plane offers.
        const long long field_rows = PlaneBytes(*first, i, field_size) / line;
        const long long merged_bytes = PlaneBytes(*merged, i, 2LL * field_size);
        for (long long j = 0; j < field_rows && 2 * j * line < merged_bytes; ++j) {
            uint8_t* even = merged->data[i] + 2 * j * line;
            std::memcpy(even, first->data[i] + j * line, static_cast<size_t>(line));
            if ((2 * j + 2) * line <= merged_bytes) {
                std::memcpy(even + line, second->data[i] + j * line, static_cast<size_t>(line));
            }
        }
    }
    return 0;
}

namespace {

// (a + 2b + c) / 4 over one line.
void Filter121(uint8_t* out, const uint8_t* a, const uint8_t* b, const uint8_t* c, int line) {
    for (int k = 0; k < line; ++k) out[k] = static_cast<uint8_t>((a[k] + 2 * b[k] + c[k]) >> 2);
}

}  // namespace

int FieldMergeYUV420P(const QVPicture* first, const QVPicture* second, _picture_param field,
                      QVPicture* merged, int /*unused*/, int rows) {
    if (first == nullptr || second == nullptr || merged == nullptr) return -1;
    if (!SameLineSizes(*first, *second) || !SameLineSizes(*first, *merged)) return -1;
    if (static_cast<int>(field.format) != AV_PIX_FMT_YUV420P) return -1;
    for (int i = 0; i < 3; ++i) {
        if (!first->data[i] || !second->data[i] || !merged->data[i] || first->linesize[i] <= 0) return -1;
    }
    // More rows than the field has would run past the field buffers.
    if (rows > field.height) rows = field.height;
    if (rows <= 0) return -1;

    auto row = [](const QVPicture* p, int plane, int j) { return p->data[plane] + j * p->linesize[plane]; };
    auto out = [merged](int plane, int r) { return merged->data[plane] + r * merged->linesize[plane]; };

    // Luma: 1-2-1 across the woven lines, the first and the last pair copied.
    const int luma = first->linesize[0];
    std::memcpy(out(0, 0), row(first, 0, 0), luma);
    std::memcpy(out(0, 1), row(second, 0, 0), luma);
    for (int j = 1; j <= rows - 2; ++j) {
        Filter121(out(0, 2 * j), row(second, 0, j - 1), row(first, 0, j), row(second, 0, j), luma);
        Filter121(out(0, 2 * j + 1), row(first, 0, j), row(second, 0, j), row(first, 0, j + 1), luma);
    }
    const int last = rows >= 2 ? rows - 1 : 0;
    if (rows >= 2) {
        std::memcpy(out(0, 2 * last), row(first, 0, last), luma);
        std::memcpy(out(0, 2 * last + 1), row(second, 0, last), luma);
    }

    // Chroma: even lines from the first field, odd lines filtered, the last pair copied.
    const int chroma_rows = rows / 2;
    for (int plane = 1; plane <= 2; ++plane) {
        const int line = first->linesize[plane];
        for (int j = 0; j <= chroma_rows - 2; ++j) {
            std::memcpy(out(plane, 2 * j), row(first, plane, j), line);
            Filter121(out(plane, 2 * j + 1), row(first, plane, j), row(second, plane, j),
                      row(first, plane, j + 1), line);
        }
        const int j = chroma_rows - 1 >= 0 ? chroma_rows - 1 : 0;
        std::memcpy(out(plane, 2 * j), row(first, plane, j), line);
        std::memcpy(out(plane, 2 * j + 1), row(second, plane, j), line);
    }
    return 0;
}

}  // namespace qv
