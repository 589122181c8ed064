// Four plane pointers and four line sizes laid over a contiguous picture buffer.
#pragma once

#include <cstdint>

struct QVPicture {
    uint8_t* data[4];
    int linesize[4];
};
