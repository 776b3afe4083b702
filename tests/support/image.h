// A picture read back from a window or a file, for comparing pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Image {
    int w = 0;
    int h = 0;
    std::vector<uint32_t> px; // 0xRRGGBB, row by row from the top
    uint32_t at(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < w && y < h ? px[(size_t)y * (size_t)w + (size_t)x] : 0;
    }
};

// Writes the picture as an 8-bit RGB PNG through the project's PNG writer; false on failure.
bool write_image_png(const Image &img, const std::string &path);
// Reads a PNG file with libpng; an empty picture (w = 0) if it cannot.
Image read_png(const std::string &path);

// An animated GIF as giflib decodes it: its frames as pictures and their delays.
struct Gif {
    bool ok = false;
    int loop_count = -1;        // from the NETSCAPE2.0 block; -1 when there is none
    std::vector<Image> frames;  // each frame composed onto the screen as a viewer shows it
    std::vector<int> delays_cs; // delay after each frame, hundredths of a second
};
Gif read_gif(const std::string &path);
