// The display rotation of a picture, from a display matrix as containers (the track matrix of
// phone recordings) and streams (H.264's display orientation message) state it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// The clockwise turn, in degrees (0, 90, 180 or 270), that shows a picture upright, from
// FFmpeg's display matrix (nine 32-bit values): the nearest quarter turn to the matrix's
// rotation; a mirrored matrix gives its rotation alone. -1 for no matrix (null, too short, or
// one that maps the picture onto nothing).
int DisplayRotation(const uint8_t* matrix, size_t size);

}  // namespace qv
