// Cutting a field-coded frame at the start codes of its fields.
#pragma once

#include <cstdint>

namespace qv {

// Offset of the next start code 00 00 01 that begins a field, searched from offset 3 on so
// that the data's own leading start code is never returned; -1 when there is none, when
// the data does not begin with 00 00 01 or 00 00 00, or when it is shorter than 3 bytes.
// A start code is found only when at least one byte follows it.
int GetField(const uint8_t* data, int length);

}  // namespace qv
