// Translation between the interface numbering (the old libavcodec CodecID and
// PixelFormat values) and the installed FFmpeg's own values. Inside the library
// everything works with FFmpeg's values; these run at the public boundary only.
#pragma once

namespace qv {

// The library's own codec ids, identical in both numberings.
constexpr int kCodecG722 = 0x990000;
constexpr int kCodecG7221 = 0x990001;

// Interface codec number -> AVCodecID value; the two own ids pass through unchanged.
// Returns -1 for a number that names no codec of the installed FFmpeg.
int CodecFromLegacy(int legacy);
// AVCodecID value (or an own id) -> interface number; 0 when the interface has none.
int CodecToLegacy(int codec);
// Interface pixel-format number (old numbering, or an own id from 0x990300) ->
// AVPixelFormat; -1 (none) for unknown numbers.
int PixelFormatFromLegacy(int legacy);
// AVPixelFormat -> interface number; -1 when the interface has none.
int PixelFormatToLegacy(int format);

}  // namespace qv
