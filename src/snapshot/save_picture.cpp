// SavePicture: any picture in memory as a 24-bit BMP file.
#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "base/legacy_ids.h"
#include "snapshot/bmp_writer.h"
#include "snapshot/snapshot_converter.h"

int SavePicture(const char* path, unsigned char* data, int width, int height,
                enum PixelFormat format) {
    if (!path || !data || width <= 0 || height <= 0) return -1;
    const int ff_format = qv::PixelFormatFromLegacy(format);
    if (ff_format == AV_PIX_FMT_NONE) return -1;

    // Rows are written in the order given, as WriteBmpFile does: the host's first row
    // becomes the bottom row of the image.
    if (ff_format == AV_PIX_FMT_BGR24) return qv::WriteBmp(path, data, width, height, false);

    // Nothing is kept between calls: the converter lives for this one picture.
    SnapshotConverter converter(width, height, ff_format, width, height, AV_PIX_FMT_BGR24);
    uint8_t* bgr = nullptr;
    if (converter.Convert(data, &bgr, 0) < 0) return -1;
    return qv::WriteBmp(path, bgr, width, height, false);
}
