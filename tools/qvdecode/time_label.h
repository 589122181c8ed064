// Times written into pictures: a small built-in bitmap font of digits, colon, period and
// minus, drawn light on a dark box so that it reads on any picture (contact-sheet tiles).
#pragma once

#include <cstdint>
#include <string>

namespace qvtool {

// "MM:SS.mmm", or "HH:MM:SS.mmm" with `hours`, of a time in microseconds (to the nearest
// millisecond; a minus sign before negative times).
std::string TimeLabelText(int64_t micros, bool hours);

// Draws `text` into the bottom-left corner of a packed 3-byte-per-pixel picture (RGB or BGR:
// the colours are grey levels) of `width` x `height` pixels whose rows are `stride` bytes
// apart. The glyphs grow with the picture (a tenth of its height or so) as long as the label
// fits its width; what does not fit is cut off at the right edge. Characters the font lacks
// leave a gap.
void DrawTimeLabel(uint8_t* pixels, int width, int height, int stride, const std::string& text);

}  // namespace qvtool
