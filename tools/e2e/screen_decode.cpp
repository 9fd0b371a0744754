// Reads a screenshot of the text window (binary PPM, 640 x 400 for 80 x 25 cells of 8 x 16) and
// prints the text it shows, one line per row, by matching every cell against the glyph table.
// End-to-end tests use it to check what the window shows without trusting the program's memory.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/display/font.h"

namespace {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    uint32_t at(int x, int y) const {
        const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

// PPM P6 with maxval 255; comment lines allowed between the header fields.
bool read_ppm(std::FILE* in, Image& image) {
    auto field = [&](int& value) {
        int c = std::fgetc(in);
        while (c == '#' || c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            if (c == '#')
                while (c != '\n' && c != EOF) c = std::fgetc(in);
            c = std::fgetc(in);
        }
        value = 0;
        if (c < '0' || c > '9') return false;
        while (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            c = std::fgetc(in);
        }
        return true;
    };
    if (std::fgetc(in) != 'P' || std::fgetc(in) != '6') return false;
    int maxval = 0;
    if (!field(image.width) || !field(image.height) || !field(maxval) || maxval != 255)
        return false;
    image.rgb.resize(size_t(image.width) * size_t(image.height) * 3);
    return std::fread(image.rgb.data(), 1, image.rgb.size(), in) == image.rgb.size();
}

// A cell shows glyph `code` when every set glyph pixel has one colour and every clear pixel
// another (or the same, for blank or full glyphs).
bool cell_shows(const Image& image, int cx, int cy, const uint8_t* glyph) {
    int64_t fg = -1, bg = -1;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x) {
            uint32_t colour = image.at(cx * 8 + x, cy * 16 + y);
            int64_t& expected = glyph[y * 8 + x] ? fg : bg;
            if (expected == -1) expected = colour;
            if (expected != colour) return false;
        }
    return !(fg != -1 && bg != -1 && fg == bg);
}

char decode_cell(const Image& image, int cx, int cy) {
    // Blank first, then printable ASCII, then the rest; '?' when nothing matches (a blinking
    // cursor over the cell, for instance).
    if (cell_shows(image, cx, cy, &FONT_8X16[32 * 128])) return ' ';
    for (int code = 33; code < 127; ++code)
        if (cell_shows(image, cx, cy, &FONT_8X16[code * 128])) return char(code);
    for (int code = 0; code < 256; ++code)
        if (cell_shows(image, cx, cy, &FONT_8X16[code * 128])) return '.';
    return '?';
}

} // namespace

int main(int argc, char** argv) {
    std::FILE* in = argc > 1 ? std::fopen(argv[1], "rb") : stdin;
    Image image;
    if (!in || !read_ppm(in, image) || image.width < 8 || image.height < 16) {
        std::fprintf(stderr, "screen_decode: expected a binary PPM screenshot\n");
        return 2;
    }
    for (int row = 0; row < image.height / 16; ++row) {
        std::string line;
        for (int column = 0; column < image.width / 8; ++column)
            line.push_back(decode_cell(image, column, row));
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
    return 0;
}
