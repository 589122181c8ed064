// Output picture options shared by decode and push.
#include "output_options.h"

#include "tool_common.h"

namespace qvtool {

bool ParseOutputRequest(const DecodeOptions& o, OutputRequest* request) {
    if (!o.format.empty()) {
        request->format = FindPixelFormat(o.format);
        if (request->format == PIX_FMT_NONE) {
            Fail(kExitUsage, "unknown pixel format '" + o.format + "' (known: " +
                                 PixelFormatNames() + ")");
            return false;
        }
    }
    if (!o.size.empty() && !ParseSize(o.size, &request->width, &request->height)) {
        Fail(kExitUsage, "bad size '" + o.size + "': expected WxH, for example 352x288");
        return false;
    }
    if (!o.size.empty() && !CheckOutputSize(request->width, request->height, o.max_pixels)) return false;
    request->high_quality = o.high_quality;
    return true;
}

void ApplyOutputRequest(QVDecoder& decoder, const OutputRequest& request) {
    const char quality = request.high_quality ? 1 : 0;
    if (request.format != PIX_FMT_NONE && request.width > 0) {
        decoder.QVSetOutput(_picture_param{request.width, request.height, request.format}, quality);
    } else if (request.format != PIX_FMT_NONE) {
        decoder.QVSetOutputFormat(request.format, quality);
    } else if (request.width > 0) {
        decoder.QVSetOutputResolution(request.width, request.height, quality);
    }
}

}  // namespace qvtool
