// TEMPORARY: seams whose real code is being written on other branches (repacking,
// demultiplexing, field decoding). Each definition here refuses the work.
// Delete a definition (and this file once empty) when its real implementation lands.
#include "QVDecoder.h"
#include "bitstream/demux_buffer.h"
#include "bitstream/program_stream.h"

int ParsePackHeader(const uint8_t*, int, _demux_buffer*) { return -1; }
bool QVDecoder::FindH264NalUnits(const uint8_t*, int) { return false; }
int QVDecoder::DecodeFieldFrame(const uint8_t*, int) { return -1; }
