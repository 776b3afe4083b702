#include "png_file.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <png.h>
#include <zlib.h>

const PngSettings PNG_CHOSEN = {1, Z_DEFAULT_STRATEGY, PNG_FILTER_NONE};

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
bool put_rows(png_structp p, png_infop info, int w, int h, const unsigned char *rgb,
              long row_stride, const PngSettings &settings)
{
    if (setjmp(png_jmpbuf(p)))
        return false;
    png_set_IHDR(p, info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(p, settings.level);
    png_set_compression_strategy(p, settings.strategy);
    png_set_filter(p, PNG_FILTER_TYPE_BASE, settings.filters);
    png_write_info(p, info);
    for (int y = 0; y < h; ++y)
        png_write_row(
            p, rgb + (row_stride < 0 ? (long)(h - 1 - y) * -row_stride : (long)y * row_stride));
    png_write_end(p, info);
    return true;
}

} // namespace

bool encode_png(int w, int h, const unsigned char *rgb, long row_stride,
                std::vector<unsigned char> *png, std::size_t *len, std::string *why,
                const PngSettings &settings)
{
    Failure error{};
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, on_error, on_warning);
    png_infop info = p ? png_create_info_struct(p) : nullptr;
    Sink sink{png, 0};
    const bool made = info != nullptr;
    bool ok = made;
    if (ok) {
        png_set_write_fn(p, &sink, put_bytes, flush_nothing);
        ok = put_rows(p, info, w, h, rgb, row_stride, settings);
    }
    png_destroy_write_struct(&p, &info);
    if (!ok) {
        *why = std::string("PNG encoding failed: ") + (made ? error.what : "out of memory");
        return false;
    }
    *len = sink.len;
    return true;
}
