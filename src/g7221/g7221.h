// libG7221: G.722.1 decoding at 16000 Hz, 24000 or 32000 bit/s, behind two C functions.
//
// The library keeps one decoder for the whole process; both calls take its lock, so
// callers on different threads cannot corrupt it (they do share its state).
#pragma once

#if defined(_WIN32)
#  define G7221_API __declspec(dllexport)
#else
#  define G7221_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Sets up (or resets) the decoder. 16000 Hz with 24000 or 32000 bit/s is supported.
// Returns 0 on success, a negative value for unsupported parameters or a failed set-up.
G7221_API int InitializeG7221Decoder(int sample_rate, int bit_rate);

// Decodes in_bytes of input holding whole frames (60 bytes at 24000 bit/s, 80 at 32000;
// each frame is 20 ms, 320 samples) into signed 16-bit mono samples at out.
// Returns the bytes written (640 per frame), 0 when the input is empty, or a negative
// value: not set up, null pointers, negative sizes, an input that is not a whole number of
// frames, or output that would not fit in out_capacity (nothing is written then).
// A frame the decoder cannot use is replaced by 20 ms of silence, keeping the timeline.
G7221_API int DecodeG7221AudioFrame(unsigned char* in, int in_bytes, unsigned char* out,
                                    int out_capacity);

#ifdef __cplusplus
}
#endif
