// PNG pictures of rendered frames, through libpng. No OpenGL, no files: the caller writes the
// bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// How the pixels are compressed: zlib's level (0..9) and strategy (Z_DEFAULT_STRATEGY, Z_RLE,
// ...) and PNG's row filters (PNG_FILTER_NONE, PNG_FILTER_SUB, ... or'ed).
struct PngSettings {
    int level;
    int strategy;
    int filters;
};

// What the renderer's pictures are written with, chosen by measurement on them (the render
// benchmark prints the candidates): zlib's fastest level, unfiltered. Mostly black with thin
// lines, they gain little from filters or higher levels, which cost several times the time;
// runs alone (Z_RLE) do well on sparse pictures but three times worse on dense meshes.
extern const PngSettings PNG_CHOSEN;

// Encodes a w x h picture of 8-bit RGB pixels as a PNG file's bytes: the first *len bytes of
// *png, which is grown as needed and kept large for the next picture. `rgb` points at the first
// byte of the buffer; row_stride is the distance between rows in bytes, negative when the rows
// run from the bottom up (as glReadPixels gives them). False with libpng's reason in why.
bool encode_png(int w, int h, const unsigned char *rgb, long row_stride,
                std::vector<unsigned char> *png, std::size_t *len, std::string *why,
                const PngSettings &settings = PNG_CHOSEN);
