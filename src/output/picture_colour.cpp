#include "output/picture_colour.h"

#include "base/ffmpeg.h"

namespace qv {

PictureColour ColourOf(int format, int colorspace, int range) {
    PictureColour colour;
    switch (colorspace) {
        case AVCOL_SPC_BT709: colour.matrix = Matrix::kBt709; break;
        // The constant-luminance variant shares the non-constant one's coefficients in
        // libswscale, which is the closest either converter comes to it.
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL: colour.matrix = Matrix::kBt2020; break;
        case AVCOL_SPC_SMPTE240M: colour.matrix = Matrix::kSmpte240m; break;
        case AVCOL_SPC_FCC: colour.matrix = Matrix::kFcc; break;
        default: colour.matrix = Matrix::kBt601; break;
    }
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P: colour.full_range = true; break;
        default: colour.full_range = range == AVCOL_RANGE_JPEG; break;
    }
    return colour;
}

namespace {

bool IsYuv(const AVPixFmtDescriptor* d) {
    return d && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL)) &&
           d->nb_components >= 3;
}

int SwsMatrix(Matrix matrix) {
    switch (matrix) {
        case Matrix::kBt709: return SWS_CS_ITU709;
        case Matrix::kBt2020: return SWS_CS_BT2020;
        case Matrix::kSmpte240m: return SWS_CS_SMPTE240M;
        case Matrix::kFcc: return SWS_CS_FCC;
        case Matrix::kBt601: break;
    }
    return SWS_CS_ITU601;
}

}  // namespace

bool ConvertsYuvToRgb(int source, int destination) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(destination));
    return IsYuv(av_pix_fmt_desc_get(static_cast<AVPixelFormat>(source))) && d &&
           (d->flags & AV_PIX_FMT_FLAG_RGB);
}

bool ApplyColour(SwsContext* scaler, PictureColour colour) {
    const int* table = sws_getCoefficients(SwsMatrix(colour.matrix));
    // RGB is always full range; brightness, contrast and saturation stay neutral.
    return sws_setColorspaceDetails(scaler, table, colour.full_range ? 1 : 0, table, 1, 0, 1 << 16, 1 << 16) >= 0;
}

}  // namespace qv
