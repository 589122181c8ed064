#include "base/legacy_ids.h"

#include <algorithm>
#include <vector>

#include "base/ffmpeg.h"

namespace qv {
namespace {

struct LegacyIdPair {
    int legacy;
    int current;
};

#include "base/legacy_id_table.inc"

// Ids of our own for codecs the old numbering lacks.
const LegacyIdPair kExtraCodecs[] = {
    {0x990100, AV_CODEC_ID_HEVC},          {0x990101, AV_CODEC_ID_VP9},
    {0x990102, AV_CODEC_ID_AV1},           {0x990200, AV_CODEC_ID_ADPCM_G722},
    {0x990201, AV_CODEC_ID_OPUS},          {0x990202, AV_CODEC_ID_G729},
    {0x990203, AV_CODEC_ID_G723_1},        {0x990204, AV_CODEC_ID_ADPCM_G726LE},
};

// Ids of our own for pixel formats the old numbering lacks.
const LegacyIdPair kExtraPixelFormats[] = {
    {0x990300, AV_PIX_FMT_YUV420P10LE}, {0x990301, AV_PIX_FMT_YUV422P10LE}, {0x990302, AV_PIX_FMT_YUV444P10LE},
    {0x990303, AV_PIX_FMT_YUV420P12LE}, {0x990304, AV_PIX_FMT_YUV422P12LE}, {0x990305, AV_PIX_FMT_YUV444P12LE},
    {0x990306, AV_PIX_FMT_GRAY10LE},    {0x990307, AV_PIX_FMT_GRAY12LE},    {0x990308, AV_PIX_FMT_GBRP10LE},
    {0x990309, AV_PIX_FMT_GBRP12LE},
};

template <size_t N>
int Lookup(const LegacyIdPair (&table)[N], int key, bool by_legacy, int missing) {
    for (const LegacyIdPair& p : table) {
        if ((by_legacy ? p.legacy : p.current) == key) return by_legacy ? p.current : p.legacy;
    }
    return missing;
}

}  // namespace

int CodecFromLegacy(int legacy) {
    if (legacy == kCodecG722 || legacy == kCodecG7221) return legacy;
    if (legacy == 0) return -1;  // CODEC_ID_NONE names no decoder
    int found = Lookup(kCodecIds, legacy, true, -1);
    if (found >= 0) return found;
    return Lookup(kExtraCodecs, legacy, true, -1);
}

int CodecToLegacy(int codec) {
    if (codec == kCodecG722 || codec == kCodecG7221) return codec;
    if (codec == AV_CODEC_ID_NONE) return 0;
    int found = Lookup(kCodecIds, codec, false, -1);
    if (found >= 0) return found;
    found = Lookup(kExtraCodecs, codec, false, -1);
    return found >= 0 ? found : 0;
}

int PixelFormatFromLegacy(int legacy) {
    if (legacy < 0) return AV_PIX_FMT_NONE;
    const int found = Lookup(kPixelFormats, legacy, true, AV_PIX_FMT_NONE);
    return found != AV_PIX_FMT_NONE ? found : Lookup(kExtraPixelFormats, legacy, true, AV_PIX_FMT_NONE);
}

int PixelFormatToLegacy(int format) {
    if (format < 0) return -1;
    const int found = Lookup(kPixelFormats, format, false, -1);
    return found >= 0 ? found : Lookup(kExtraPixelFormats, format, false, -1);
}

}  // namespace qv
