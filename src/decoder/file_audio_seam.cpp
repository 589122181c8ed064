// TEMPORARY: audio decoding is written on another branch. Until it lands, file-mode audio
// packets decode to nothing; the definition is weak so the real one replaces it at link
// time. Delete this file once DecodeAudioFrame exists.
#include "QVDecoder.h"

__attribute__((weak)) int QVDecoder::DecodeAudioFrame(const uint8_t*, int) { return -1; }
