#include "png_file.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <png.h>
#include <zlib.h>

const PngSettings PNG_CHOSEN = {1, Z_DEFAULT_STRATEGY, PNG_FILTER_NONE};

int pixel_bytes(Pixels p)
{
    return p == Pixels::RED ? 1 : p == Pixels::RGB ? 3 : 4;
}

const unsigned char *row_from_top(const PixelRows &p, int y)
{
    long from_first = p.row_stride < 0 ? (long)(p.h - 1 - y) * -p.row_stride : y * p.row_stride;
    return p.data + from_first;
}

namespace
{

// Where the encoder's bytes go: the caller's vector, grown as needed and never shrunk.
struct Sink {
    std::vector<unsigned char> *png;
    std::size_t len;
};

void put_bytes(png_structp p, png_bytep data, png_size_t n)
{
    auto *sink = static_cast<Sink *>(png_get_io_ptr(p));
    if (sink->png->size() < sink->len + n)
        sink->png->resize(2 * (sink->len + n));
    std::copy(data, data + n, sink->png->data() + sink->len);
    sink->len += n;
}

void flush_nothing(png_structp) {}

// libpng's reason for a failure, kept until the jump back; plain characters, as nothing with a
// destructor may live across setjmp.
struct Failure {
    char what[200];
};

void on_error(png_structp p, png_const_charp message)
{
    std::snprintf(static_cast<Failure *>(png_get_error_ptr(p))->what, sizeof(Failure::what), "%s",
                  message);
    png_longjmp(p, 1);
}

void on_warning(png_structp, png_const_charp) {}

// The encoding itself, between setjmp and libpng's jump back on a failure: nothing here may have
// a destructor. False after a failure.
bool put_rows(png_structp p, png_infop info, const PixelRows &pic, const png_color *reds,
              const PngSettings &settings)
{
    if (setjmp(png_jmpbuf(p)))
        return false;
    const bool red = pic.pixels == Pixels::RED;
    png_set_IHDR(p, info, (png_uint_32)pic.w, (png_uint_32)pic.h, 8,
                 red ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (red)
        png_set_PLTE(p, info, reds, 256);
    png_set_compression_level(p, settings.level);
    png_set_compression_strategy(p, settings.strategy);
    png_set_filter(p, PNG_FILTER_TYPE_BASE, settings.filters);
    png_write_info(p, info);
    if (pic.pixels == Pixels::RGBA)
        png_set_filler(p, 0, PNG_FILLER_AFTER); // the fourth byte is dropped
    for (int y = 0; y < pic.h; ++y)
        png_write_row(p, row_from_top(pic, y));
    png_write_end(p, info);
    return true;
}

} // namespace

bool encode_png(const PixelRows &pic, std::vector<unsigned char> *png, std::size_t *len,
                std::string *why, const PngSettings &settings)
{
    png_color reds[256];
    for (int i = 0; i < 256; ++i)
        reds[i] = png_color{(png_byte)i, 0, 0};
    Failure error{};
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, on_error, on_warning);
    png_infop info = p ? png_create_info_struct(p) : nullptr;
    Sink sink{png, 0};
    const bool made = info != nullptr;
    bool ok = made;
    if (ok) {
        png_set_write_fn(p, &sink, put_bytes, flush_nothing);
        ok = put_rows(p, info, pic, reds, settings);
    }
    png_destroy_write_struct(&p, &info);
    if (!ok) {
        *why = std::string("PNG encoding failed: ") + (made ? error.what : "out of memory");
        return false;
    }
    *len = sink.len;
    return true;
}
