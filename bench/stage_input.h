// A 720p H.264 stream held in memory, made once for the stage benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "media_factory.h"
#include "ps_writer.h"

namespace qvbench {

inline const qvtest::EncodedVideo& Stream720p() {
    static const qvtest::EncodedVideo video = [] {
        qvtest::VideoOptions o;
        o.width = 1280;
        o.height = 720;
        o.frames = 50;
        o.gop = 25;
        o.bit_rate = 4000000;
        return qvtest::EncodeVideo("libx264", o);
    }();
    return video;
}

// The same frames as camera packs: one pack per frame with a G.711 audio packet beside it.
inline const std::vector<std::vector<uint8_t>>& Packs720p() {
    static const std::vector<std::vector<uint8_t>> packs = [] {
        std::vector<std::vector<uint8_t>> out;
        const std::vector<uint8_t> audio(160, 0xD5);
        int64_t pts = 0;
        for (const auto& p : Stream720p().packets) {
            out.push_back(qvtest::MakeCameraPack(p.data, p.key, pts, audio));
            pts += 3600;
        }
        return out;
    }();
    return packs;
}

}  // namespace qvbench
