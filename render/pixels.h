// Pictures in memory as the renderer reads them back and the picture encoders take them. No
// OpenGL here: the types alone.
#pragma once

// How a picture's pixels are stored, a byte a channel: red, green and blue; the same with a fourth
// byte that is ignored (OpenGL's RGBA); or red alone, green and blue being zero (a picture drawn in
// red on black, read back from a framebuffer of one channel).
enum class Pixels { RGB, RGBA, RED };

// Bytes a pixel of that kind takes.
int pixel_bytes(Pixels p);

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
