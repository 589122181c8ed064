#include "field_pictures.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace qvtest {

FieldStreams EncodeFieldPairs(int width, int height, int frames) {
    VideoOptions o;
    o.width = width;
    o.height = height;
    o.frames = frames;
    o.gop = 1;  // every field decodes on its own
    o.seed = 1;
    FieldStreams fields;
    fields.first = EncodeVideo("libx264", o);
    o.seed = 9;
    fields.second = EncodeVideo("libx264", o);
    return fields;
}

std::vector<uint8_t> FieldPair(const FieldStreams& fields, size_t i) {
    std::vector<uint8_t> frame(fields.first.packets.at(i).data);
    const std::vector<uint8_t>& second = fields.second.packets.at(i).data;
    frame.insert(frame.end(), second.begin(), second.end());
    return frame;
}

Picture LineDoubled420(const std::vector<uint8_t>& field, int width, int height) {
    Picture picture;
    picture.width = width;
    picture.height = 2 * height;
    picture.format = AV_PIX_FMT_YUV420P;
    std::vector<uint8_t>& merged = picture.bytes;
    merged.resize(2 * field.size());
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    const int widths[3] = {width, cw, cw}, heights[3] = {height, ch, ch};
    size_t in = 0, out = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = widths[plane], h = heights[plane];
        for (int j = 0; j < h; ++j) {
            const uint8_t* row = &field[in + static_cast<size_t>(j) * w];
            const uint8_t* next = j + 1 < h ? row + w : row;
            uint8_t* even = &merged[out + static_cast<size_t>(2 * j) * w];
            for (int k = 0; k < w; ++k) {
                even[k] = row[k];
                even[w + k] = static_cast<uint8_t>((row[k] + next[k]) / 2);
            }
        }
        in += static_cast<size_t>(w) * h;
        out += static_cast<size_t>(2 * w) * h;
    }
    return picture;
}

}  // namespace qvtest
