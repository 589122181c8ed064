#include "time_label.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace qvtool {
namespace {

constexpr int kGlyphRows = 5;

// One character: its width in font pixels and its rows, the leftmost pixel the highest bit.
struct Glyph {
    char c;
    int width;
    uint8_t rows[kGlyphRows];
};

constexpr Glyph kGlyphs[] = {
    {'0', 3, {0b111, 0b101, 0b101, 0b101, 0b111}}, {'1', 3, {0b010, 0b110, 0b010, 0b010, 0b111}},
    {'2', 3, {0b111, 0b001, 0b111, 0b100, 0b111}}, {'3', 3, {0b111, 0b001, 0b111, 0b001, 0b111}},
    {'4', 3, {0b101, 0b101, 0b111, 0b001, 0b001}}, {'5', 3, {0b111, 0b100, 0b111, 0b001, 0b111}},
    {'6', 3, {0b111, 0b100, 0b111, 0b101, 0b111}}, {'7', 3, {0b111, 0b001, 0b010, 0b010, 0b010}},
    {'8', 3, {0b111, 0b101, 0b111, 0b101, 0b111}}, {'9', 3, {0b111, 0b101, 0b111, 0b001, 0b111}},
    {':', 1, {0b0, 0b1, 0b0, 0b1, 0b0}},           {'.', 1, {0b0, 0b0, 0b0, 0b0, 0b1}},
    {'-', 3, {0b000, 0b000, 0b111, 0b000, 0b000}},
};

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kGlyphs) {
        if (g.c == c) return &g;
    }
    return nullptr;
}

// Width of the text in font pixels: each glyph and one pixel between neighbours.
int TextWidth(const std::string& text) {
    int width = 0;
    for (char c : text) {
        const Glyph* g = FindGlyph(c);
        width += (g ? g->width : 3) + 1;
    }
    return std::max(0, width - 1);
}

void Fill(uint8_t* pixels, int width, int height, int stride, int x0, int y0, int w, int h, uint8_t level) {
    const int x1 = std::min(width, x0 + w), y1 = std::min(height, y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y) {
        uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        for (int x = std::max(0, x0); x < x1; ++x) row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = level;
    }
}

}  // namespace

std::string TimeLabelText(int64_t micros, bool hours) {
    const int64_t ms = ((micros < 0 ? -micros : micros) + 500) / 1000;
    const int64_t h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60, frac = ms % 1000;
    char text[64];
    const char* sign = micros < 0 && ms > 0 ? "-" : "";
    if (hours) {
        std::snprintf(text, sizeof(text), "%s%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64, sign, h, m, s,
                      frac);
    } else {
        std::snprintf(text, sizeof(text), "%s%02" PRId64 ":%02" PRId64 ".%03" PRId64, sign, h * 60 + m, s, frac);
    }
    return text;
}

void DrawTimeLabel(uint8_t* pixels, int width, int height, int stride, const std::string& text) {
    if (!pixels || width <= 0 || height <= 0 || text.empty()) return;
    const int text_w = TextWidth(text);
    // About a tenth of the picture's height, never wider than the picture, at least 1.
    int scale = std::max(1, height / (kGlyphRows * 10));
    while (scale > 1 && (text_w + 2) * scale > width) --scale;
    const int box_w = (text_w + 2) * scale, box_h = (kGlyphRows + 2) * scale;
    const int box_y = height - box_h;
    Fill(pixels, width, height, stride, 0, box_y, box_w, box_h, 16);
    int x = scale;
    for (char c : text) {
        const Glyph* g = FindGlyph(c);
        if (g) {
            for (int row = 0; row < kGlyphRows; ++row) {
                for (int col = 0; col < g->width; ++col) {
                    if (!(g->rows[row] >> (g->width - 1 - col) & 1)) continue;
                    Fill(pixels, width, height, stride, x + col * scale, box_y + (row + 1) * scale, scale, scale, 235);
                }
            }
        }
        x += ((g ? g->width : 3) + 1) * scale;
    }
}

}  // namespace qvtool
