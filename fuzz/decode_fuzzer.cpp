// Arbitrary bytes pushed through QVDecodeVideoFrame with the stages on. The first byte
// picks the codec and which of repacking, demultiplexing and field mode are on; the rest
// is pushed in pieces separated by the marker "QVCUT". Codec bit 7 also turns on complete
// mode: every push is followed by the receive loop, the end by a flush and another push.
#include <cstdio>
#include <cstring>
#include <vector>

#include "QVDecoder.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool initialized = [] {
        QVDecoderInitialize();
        return true;
    }();
    (void)initialized;
    if (size < 1) return 0;
    if (size > 256 * 1024) size = 256 * 1024;  // keeps the decoder's work per input small
    const uint8_t mode = data[0];
    const CodecID codecs[4] = {CODEC_ID_H264, CODEC_ID_MPEG2VIDEO, CODEC_ID_MPEG4, CODEC_ID_QV_HEVC};

    QVDecoder d;
    d.QVDecoderSetDemux((mode & 1) ? 1 : 0);
    d.QVDecoderSetEncodeMode((mode & 2) ? CODE_MODE_FIELD : CODE_MODE_FRAME);
    d.QVDecoderSetStreamMode((mode & 4) ? TRANSFER_MODE_CHUNK : TRANSFER_MODE_FRAME);
    const int repack = (mode & 8) ? 1 : 0;
    if (mode & 16) d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
    const bool complete = (mode & 128) != 0;
    if (complete) {
        d.QVDecoderSetLatencyMode(LATENCY_MODE_COMPLETE);
        d.QVDecoderSetThreads((mode & 64) ? 2 : 1);
    }
    if (d.QVOpenDecoder(codecs[(mode >> 5) & 3], _picture_param{176, 144, PIX_FMT_YUV420P}) != 0) return 0;

    // `result` is what the decode call returned: 0 promises a picture the host can read
    // whole, so a missing one traps; otherwise whatever is there must hold what it claims.
    auto check_picture = [&d](int result, const char* call) {
        const uint8_t* picture = d.QVGetVideoFrame();
        const int picture_size = d.QVGetVideoFrameSize();
        if (result == 0 && (!picture || picture_size <= 0)) {
            std::fprintf(stderr, "decode_fuzzer: %s returned 0 but QVGetVideoFrame() is %p and QVGetVideoFrameSize() %d\n",
                         call, static_cast<const void*>(picture), picture_size);
            __builtin_trap();
        }
        if (picture && picture_size > 0) {
            volatile uint8_t sink = picture[picture_size - 1];  // the buffer holds what it claims
            (void)sink;
        }
        d.QVGetPictureFlags();
    };
    const uint8_t* rest = data + 1;
    size_t left = size - 1;
    static const char kCut[] = "QVCUT";
    while (left > 0) {
        const void* found = memmem(rest, left, kCut, 5);
        const size_t piece = found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - rest) : left;
        qvfuzz::ExactCopy in(rest, piece);
        check_picture(d.QVDecodeVideoFrame(in.bytes.get(), in.length, repack), "QVDecodeVideoFrame");
        for (int i = 0; complete && i < 64 && d.QVReceiveVideoFrame() == 0; ++i) check_picture(0, "QVReceiveVideoFrame");
        if (!found) break;
        rest += piece + 5;
        left -= piece + 5;
    }
    if (complete && d.QVFlushVideo() == 0) {
        for (int i = 0; i < 64 && d.QVReceiveVideoFrame() == 0; ++i) check_picture(0, "QVReceiveVideoFrame");
        // The object takes a new stream after the flush.
        qvfuzz::ExactCopy again(data + 1, size - 1 < 4096 ? size - 1 : 4096);
        if (again.length > 0) check_picture(d.QVDecodeVideoFrame(again.bytes.get(), again.length, repack), "QVDecodeVideoFrame");
    }
    d.QVClose();
    return 0;
}
