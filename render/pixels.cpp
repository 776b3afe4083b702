#include "render/pixels.h"

int pixel_bytes(Pixels p)
{
    return p == Pixels::RED ? 1 : p == Pixels::RGB ? 3 : 4;
}

const unsigned char *row_from_top(const PixelRows &p, int y)
{
    long from_first = p.row_stride < 0 ? (long)(p.h - 1 - y) * -p.row_stride : y * p.row_stride;
    return p.data + from_first;
}
