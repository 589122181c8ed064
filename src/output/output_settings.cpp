// The host's output settings: size, pixel format and scaling quality.
#include "core/decoder_impl.h"
#include "core/legacy_ids.h"

// A negative size can never be produced and a size over the picture limit must not be
// allocated: such a request is refused and the previous output stays. 0 follows the picture.
bool QVDecoder::Impl::AcceptOutputSize(int width, int height, const char* refusal) const {
    if (width >= 0 && height >= 0 && !qv::OverLimit(width, height, max_pixels)) return true;
    QVDECODE_LOG(refusal, 15);
    return false;
}

void QVDecoder::Impl::QVSetOutput(_picture_param requested, char quality) {
    if (!AcceptOutputSize(requested.width, requested.height, "QVSetOutput: invalid output size.")) return;
    requested.format = static_cast<enum PixelFormat>(qv::PixelFormatFromLegacy(requested.format));
    output.SetOutput(requested, quality, Decoded());
}

void QVDecoder::Impl::QVSetOutputFormat(enum PixelFormat legacy_format, char quality) {
    output.SetOutputFormat(qv::PixelFormatFromLegacy(legacy_format), quality, Decoded());
}

void QVDecoder::Impl::QVSetOutputResolution(int width, int height, char quality) {
    if (!AcceptOutputSize(width, height, "QVSetOutputResolution: invalid output size.")) return;
    output.SetOutputResolution(width, height, quality, Decoded());
}

void QVDecoder::Impl::QVGetOutputResolution(int& width, int& height) {
    output.GetOutputResolution(width, height, Decoded());
}
