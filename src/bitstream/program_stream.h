// Demultiplexing of one MPEG-2 program stream pack: the payloads of its video PES packets
// are gathered into a _demux_buffer. Neither function allocates; neither reads outside
// [data, data + length) nor writes outside buffer->data[0, buffer->capacity).
#pragma once

#include <cstdint>

#include "bitstream/demux_buffer.h"

// Parses the pack header (and the system header, if one follows) at data, then the PES
// packets after them. 0 when the headers are valid, whatever the PES packets hold; -1
// otherwise. A buffer whose data is null gives 0 and is left as it is.
int ParsePackHeader(const uint8_t* data, int length, _demux_buffer* buffer);

// Parses the PES packets that begin at data and appends the payloads of the video
// streams (ids 0xE0 to 0xEF) to buffer, which it empties first. 0 when it stops at the
// end of the packets, -1 when a packet is rejected; the payloads taken before a rejected
// packet stay in the buffer.
int ParsePesPackets(const uint8_t* data, int length, _demux_buffer* buffer);
