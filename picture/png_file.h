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

// How a picture's pixels are stored, a byte a channel: red, green and blue; the same with a fourth
// byte that is ignored (OpenGL's RGBA); or red alone, green and blue being zero (a picture drawn in
// red on black, read back from a framebuffer of one channel).
enum class Pixels { RGB, RGBA, RED };

// Bytes a pixel of that kind takes.
int pixel_bytes(Pixels p);

// What the renderer's pictures are written with, chosen by measurement on them (the render
// benchmark prints the candidates): zlib's fastest level, unfiltered; mostly black with thin
// lines, they gain little from filters or higher levels, which cost several times the time. Red
// pictures, a byte a pixel, compress smaller and as fast by runs alone (Z_RLE); RGB ones with the
// default strategy, as runs alone make dense meshes three times larger.
PngSettings png_chosen(Pixels p);

// A picture in memory: w x h pixels of one kind, row_stride bytes from one row to the next,
// negative when the rows run from the bottom up (as glReadPixels gives a window's rows). data is
// the first byte of the buffer.
struct PixelRows {
    int w = 0;
    int h = 0;
    Pixels pixels = Pixels::RGB;
    const unsigned char *data = nullptr;
    long row_stride = 0;
};

// The first byte of row y, counted from the top.
const unsigned char *row_from_top(const PixelRows &p, int y);

// Encodes a picture as a PNG file's bytes: the first *len bytes of *png, which is grown as needed
// and kept large for the next picture. RGB and RGBA pictures become RGB files, RED ones palette
// files: a bit a pixel when every pixel is black or full red, else a byte, index i being red i. A
// decoder gives the same colours either way. False with libpng's reason in why.
bool encode_png(const PixelRows &pic, std::vector<unsigned char> *png, std::size_t *len,
                std::string *why);
bool encode_png(const PixelRows &pic, std::vector<unsigned char> *png, std::size_t *len,
                std::string *why, const PngSettings &settings);
