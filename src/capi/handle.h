// The C interface's handle and the checks every entry point runs through.
#pragma once

#include <cstdint>
#include <new>

#include "QVDecoder.h"
#include "qvdecoder_c.h"

struct qv_decoder {
    enum class Mode { kNone, kStream, kFile };

    QVDecoder object;
    Mode mode = Mode::kNone;
    // A freshly opened decoder already owns a (blank) picture buffer: a picture counts only
    // once a decoding call has laid one out.
    bool has_picture = false;
};

namespace qv_c {

inline bool ValidMode(int mode) { return mode == 0 || mode == 1; }

// Every entry point runs its body through here: an exception (out of memory in the standard
// library, say) becomes a result code instead of unwinding into C.
template <typename Body>
int Guarded(qv_decoder* decoder, Body body) {
    if (!decoder) return QV_ERR_ARGUMENT;
    try {
        return body(*decoder);
    } catch (const std::bad_alloc&) {
        return QV_ERR_NO_MEMORY;
    } catch (...) {
        return QV_FAILED;
    }
}

// A 64-bit answer of the object through the caller's pointer: QV_OK, or QV_ERR_ARGUMENT for
// a null pointer.
template <typename Get>
int Answer(qv_decoder* decoder, int64_t* out, Get get) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!out) return QV_ERR_ARGUMENT;
        *out = get(d);
        return QV_OK;
    });
}

// The handle was opened for pushed frames: the file-mode calls (decoding, seeking, raw
// extraction) cannot apply and say so with QV_ERR_NOT_FILE, whatever the object would answer.
inline bool PushedStream(const qv_decoder& d) { return d.mode == qv_decoder::Mode::kStream; }

// An output size the object takes: not negative, and within its picture limit (0 leaves a
// side open).
inline bool OutputSizeFits(qv_decoder& d, int width, int height) {
    return width >= 0 && height >= 0 && int64_t{width} * height <= d.object.QVGetMaxPixels();
}

inline int Opened(qv_decoder& d, qv_decoder::Mode mode, int result) {
    d.has_picture = false;
    d.mode = result == QV_OK ? mode : qv_decoder::Mode::kNone;
    return result;
}

inline int PictureResult(qv_decoder& d, int result) {
    if (result == QV_OK) d.has_picture = true;
    return result;
}

}  // namespace qv_c

