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

namespace {

// The plain format of a yuvj* one (full range by definition), or the format itself.
int PlainFormat(int format, bool* full_range) {
    *full_range = true;
    switch (format) {
        case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
        default: break;
    }
    *full_range = false;
    return format;
}

}  // namespace

SwsContext* NewScaler(int src_width, int src_height, int src_format, int dst_width, int dst_height,
                      int dst_format, int flags, int threads) {
    bool src_full = false, dst_full = false;
    const int src = PlainFormat(src_format, &src_full);
    const int dst = PlainFormat(dst_format, &dst_full);
    SwsContext* scaler = sws_alloc_context();
    if (!scaler) return nullptr;
    // The ranges are options of the context, set before it is initialised: the conversion it
    // picks at initialisation (an unscaled copy or a range-converting scaler) depends on them.
    if (av_opt_set_int(scaler, "srcw", src_width, 0) < 0 || av_opt_set_int(scaler, "srch", src_height, 0) < 0 ||
        av_opt_set_int(scaler, "src_format", src, 0) < 0 || av_opt_set_int(scaler, "dstw", dst_width, 0) < 0 ||
        av_opt_set_int(scaler, "dsth", dst_height, 0) < 0 || av_opt_set_int(scaler, "dst_format", dst, 0) < 0 ||
        av_opt_set_int(scaler, "sws_flags", flags, 0) < 0 || av_opt_set_int(scaler, "src_range", src_full, 0) < 0 ||
        av_opt_set_int(scaler, "dst_range", dst_full, 0) < 0 ||
        (threads != 1 && av_opt_set_int(scaler, "threads", threads, 0) < 0) ||
        sws_init_context(scaler, nullptr, nullptr) < 0) {
        sws_freeContext(scaler);
        return nullptr;
    }
    return scaler;
}

}  // namespace qv
