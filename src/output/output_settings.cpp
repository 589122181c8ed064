// The host's output settings: size, pixel format and scaling quality.
#include "core/decoder_impl.h"
#include "core/legacy_ids.h"

void QVDecoder::Impl::QVSetOutput(_picture_param requested, char quality) {
    requested.format = static_cast<enum PixelFormat>(qv::PixelFormatFromLegacy(requested.format));
    output.SetOutput(requested, quality, Decoded());
}

void QVDecoder::Impl::QVSetOutputFormat(enum PixelFormat legacy_format, char quality) {
    output.SetOutputFormat(qv::PixelFormatFromLegacy(legacy_format), quality, Decoded());
}

void QVDecoder::Impl::QVSetOutputResolution(int width, int height, char quality) {
    output.SetOutputResolution(width, height, quality, Decoded());
}

void QVDecoder::Impl::QVGetOutputResolution(int& width, int& height) {
    output.GetOutputResolution(width, height, Decoded());
}
