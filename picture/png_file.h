// PNG pictures of rendered frames, through libpng. No OpenGL, no files: the caller writes the
// bytes.
#pragma once

#include "render/pixels.h"
#include "util/status.h"

#include <cstddef>
#include <vector>

// How the pixels are compressed: zlib's level (0..9) and strategy (Z_DEFAULT_STRATEGY, Z_RLE,
// ...) and PNG's row filters (PNG_FILTER_NONE, PNG_FILTER_SUB, ... or'ed).
struct PngSettings {
    int level;
    int strategy;
    int filters;
};

// What the renderer's pictures are written with, chosen by measurement on them (the render
// benchmark prints the candidates): zlib's fastest level, unfiltered; mostly black with thin
// lines, they gain little from filters or higher levels, which cost several times the time. Red
// pictures, a byte a pixel, compress smaller and as fast by runs alone (Z_RLE); RGB ones with the
// default strategy, as runs alone make dense meshes three times larger.
PngSettings png_chosen(Pixels p);

// Encodes a picture as a PNG file's bytes: the first *len bytes of *png, which is grown as needed
// and kept large for the next picture. RGB and RGBA pictures become RGB files, RED ones palette
// files: a bit a pixel when every pixel is black or full red, else a byte, index i being red i. A
// decoder gives the same colours either way. The error gives libpng's reason.
Status encode_png(const PixelRows &pic, std::vector<unsigned char> *png, std::size_t *len);
Status encode_png(const PixelRows &pic, std::vector<unsigned char> *png, std::size_t *len,
                  const PngSettings &settings);
