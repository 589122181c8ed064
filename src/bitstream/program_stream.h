// MPEG-2 program stream pack parsing.
#pragma once

#include <cstdint>

#include "bitstream/demux_buffer.h"

// Parses one pack and gathers the payload of its video PES packets into buffer.
int ParsePackHeader(const uint8_t* data, int length, _demux_buffer* buffer);
