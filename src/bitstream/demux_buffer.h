// Output record of the program-stream demultiplexer.
#pragma once

#include <cstdint>

constexpr int kDemuxBufferCapacity = 1000000;

struct _demux_buffer {
    uint8_t* data;  // capacity bytes
    int length;     // bytes filled by the last demultiplexed pack
    int capacity;   // at most kDemuxBufferCapacity
};
