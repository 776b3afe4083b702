// PNG files of rendered pictures, through libpng. No OpenGL.
#pragma once

#include <cstddef>

// Writes a w x h picture of 8-bit RGB pixels as PNG at path. `rgb` points at the first byte of
// the buffer; row_stride is the distance between rows in bytes, negative when the rows run from
// the bottom up (as glReadPixels gives them). The file is written under a temporary name and
// renamed into place, so path never names a half-written picture. Returns false with the reason
// in why (at most why_cap bytes).
bool write_png(const char *path, int w, int h, const unsigned char *rgb, long row_stride, char *why,
               std::size_t why_cap);
