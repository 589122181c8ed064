// The C++ side of bench/python/python_vs_cpp.py: one file decoded to BGR24 at its own size on
// one thread, every picture read (QVGetVideoFrame), nothing else; the picture count on stdout.
#include <cstdio>

#include "QVDecoder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    QVDecoderInitialize();
    QVDecoder d;
    d.QVDecoderSetThreads(1);
    d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
    if (d.QVOpen(argv[1]) != 0) return 1;
    long pictures = 0;
    unsigned sum = 0;
    for (int r = d.QVDecodeFrame(); r != QV_ERR_END_OF_FILE; r = d.QVDecodeFrame()) {
        if (r != 0) continue;
        sum += d.QVGetVideoFrame()[0];  // the picture is read, as a host does
        ++pictures;
    }
    std::printf("%ld %u\n", pictures, sum);
    return 0;
}
