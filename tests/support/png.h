#pragma once
// A small PNG writer and reader for the reference images of the composer tests. Writing uses
// fixed-Huffman deflate with a greedy LZ77 match finder (text frames repeat a lot, so the files
// stay a few KB); reading handles any non-interlaced 8-bit palette, RGB or RGBA PNG, so a
// reference re-saved by an image editor still loads.
#include <cstdint>
#include <string>
#include <vector>

struct PngImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels; // 0xAARRGGBB
};

// A palette PNG when the image has at most 256 colours (every text frame), RGBA otherwise. False
// when the file cannot be written.
bool png_write(const std::string& path, const PngImage& image);
// False when the file is missing or not a PNG this reader understands.
bool png_read(const std::string& path, PngImage& image);
