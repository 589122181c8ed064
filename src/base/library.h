// Library-wide state: the initialised flag and the global lock.
#pragma once

#include <mutex>

namespace qv {

// Serialises the FFmpeg calls that are not safe to run concurrently: container-format
// look-up, stream probing, decoder look-up, and codec open and close.
std::mutex& GlobalLock();
bool IsInitialized();

// Short names of the containers for which raw extraction is offered, in table order.
extern const char* const kInputFormatNames[8];
// Containers of today's cameras (Matroska/WebM, MPEG-TS), offered beside the eight.
extern const char* const kExtraInputFormatNames[2];

}  // namespace qv
