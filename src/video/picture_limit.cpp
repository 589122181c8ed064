#include "video/picture_limit.h"

#include <climits>
#include <cstring>

#include "base/ffmpeg.h"

namespace qv {

int64_t CodecPixelBound(int64_t max_pixels) {
    // Rows padded by up to 64 bytes, for pictures up to 16384 rows high. libavcodec's own
    // option stops at INT_MAX, which is no limit of ours.
    constexpr int64_t kPadding = 64 * 16384;
    return max_pixels > INT_MAX - kPadding ? INT_MAX : max_pixels + kPadding;
}

int64_t StatedPictureArea(int codec_id, const uint8_t* extradata, int extradata_size, const uint8_t* data,
                          int length) {
    if (!data || length <= 0) return 0;
    ParserPtr parser(av_parser_init(codec_id));
    if (!parser) return 0;
    CodecContextPtr ctx(avcodec_alloc_context3(nullptr));
    if (!ctx) return 0;
    ctx->codec_id = static_cast<AVCodecID>(codec_id);
    ctx->codec_type = AVMEDIA_TYPE_VIDEO;
    if (extradata && extradata_size > 0) {
        ctx->extradata = static_cast<uint8_t*>(av_mallocz(extradata_size + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!ctx->extradata) return 0;
        std::memcpy(ctx->extradata, extradata, extradata_size);
        ctx->extradata_size = extradata_size;
    }
    // The parser reads past the end like the decoder does.
    AvBufferPtr padded(static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE)));
    if (!padded) return 0;
    std::memcpy(padded.get(), data, static_cast<size_t>(length));
    // Each call's bytes are one whole frame: parsed at once, not held for the next start code.
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    const uint8_t* rest = padded.get();
    int left = length;
    int64_t largest = 0;
    auto note = [&largest](int64_t width, int64_t height) {
        if (width > 0 && height > 0 && width * height > largest) largest = width * height;
    };
    while (left > 0) {
        uint8_t* out = nullptr;
        int out_size = 0;
        const int used = av_parser_parse2(parser.get(), ctx.get(), &out, &out_size, rest, left, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        note(parser->width, parser->height);
        note(parser->coded_width, parser->coded_height);
        note(ctx->width, ctx->height);
        if (used <= 0) break;
        rest += used;
        left -= used;
    }
    return largest;
}

}  // namespace qv
