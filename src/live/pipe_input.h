// Pipes and FIFOs read with a bound: the descriptor is polled in short steps and the
// interrupt callback is asked between them, so a writer that never comes or stalls ends
// the call at the timeout (or at an interrupt) instead of blocking it for ever. Nothing
// is read that is not handed on: a call given up consumes no byte.
#pragma once

#include <cstdint>

struct AVIOContext;
struct AVIOInterruptCB;

namespace qv {

// Whether the name is read here: pipe:N (pipe: is the standard input), or a local path,
// with or without file:, that names a FIFO or a character device.
bool IsPipeName(const char* name);

// Opens the pipe or FIFO without waiting for a writer: an AVIOContext that reads it, owned
// by the caller (ClosePipe), or null with the error in `error` (an AVERROR).
AVIOContext* OpenPipe(const char* name, const AVIOInterruptCB* interrupt, int* error);
void ClosePipe(AVIOContext** io);

}  // namespace qv
