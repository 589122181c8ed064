// The output picture options shared by decode and push: parsed once, applied to a decoder.
#pragma once

#include "QVDecoder.h"
#include "commands.h"

namespace qvtool {

struct OutputRequest {
    PixelFormat format = PIX_FMT_NONE;  // none: keep the decoder's own format
    int width = 0;                      // 0: keep the decoded size
    int height = 0;
    bool high_quality = false;
    bool Any() const { return format != PIX_FMT_NONE || width > 0; }
};

// Checks --format and --size; prints the problem and returns false when they are bad.
bool ParseOutputRequest(const DecodeOptions& o, OutputRequest* request);
// Turns output conversion on for an open decoder, as requested.
void ApplyOutputRequest(QVDecoder& decoder, const OutputRequest& request);

}  // namespace qvtool
