#include "picture/png_file.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <zlib.h>

PngSettings png_chosen(Pixels p)
{
    return {1, p == Pixels::RED ? Z_RLE : Z_DEFAULT_STRATEGY, PNG_FILTER_NONE};
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

// How the rows handed to libpng are laid out in the file.
struct Layout {
    int bit_depth;
    int color_type;
    const png_color *palette; // palette pictures: the colours, else null
    int colors;
    bool filler; // a fourth byte a pixel, dropped
};

// The encoding itself, between setjmp and libpng's jump back on a failure: nothing here may have
// a destructor. False after a failure.
bool put_rows(png_structp p, png_infop info, const PixelRows &rows, const Layout &layout,
              const PngSettings &settings)
{
    if (setjmp(png_jmpbuf(p)))
        return false;
    png_set_IHDR(p, info, (png_uint_32)rows.w, (png_uint_32)rows.h, layout.bit_depth,
                 layout.color_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (layout.palette)
        png_set_PLTE(p, info, layout.palette, layout.colors);
    png_set_compression_level(p, settings.level);
    png_set_compression_strategy(p, settings.strategy);
    png_set_filter(p, PNG_FILTER_TYPE_BASE, settings.filters);
    png_write_info(p, info);
    if (layout.filler)
        png_set_filler(p, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < rows.h; ++y)
        png_write_row(p, row_from_top(rows, y));
    png_write_end(p, info);
    return true;
}

// A red picture whose every pixel is black or full red as a bit a pixel, the leftmost in each
// byte's highest bit, rows from the top. False when some pixel is neither.
bool pack_bits(const PixelRows &pic, std::vector<unsigned char> *bits, PixelRows *rows)
{
    const std::size_t row_bytes = ((std::size_t)pic.w + 7) / 8;
    bits->resize(row_bytes * (std::size_t)pic.h);
    constexpr std::uint64_t ONES = 0x0101010101010101u;
    // Bit 0 of byte j of a little-endian word goes to bit 63 - j of the product; no two of the
    // products' terms meet, so nothing carries.
    constexpr std::uint64_t GATHER = 0x8040201008040201u;
    for (int y = 0; y < pic.h; ++y) {
        const unsigned char *in = row_from_top(pic, y);
        unsigned char *out = bits->data() + row_bytes * (std::size_t)y;
        int x = 0;
        for (; x + 8 <= pic.w; x += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, in + x, 8);
            const std::uint64_t lows = (word >> 7) & ONES;
            if (word != lows * 0xffu)
                return false;
            *out++ = (unsigned char)((lows * GATHER) >> 56);
        }
        unsigned char last = 0;
        for (int k = 0; x < pic.w; ++x, ++k) {
            if (in[x] != 0 && in[x] != 0xff)
                return false;
            last = (unsigned char)(last | (in[x] >> 7) << (7 - k));
        }
        if (pic.w % 8 != 0)
            *out = last;
    }
    *rows = PixelRows{pic.w, pic.h, Pixels::RED, bits->data(), (long)row_bytes};
    return true;
}

} // namespace

Status encode_png(const PixelRows &pic, std::vector<unsigned char> *png, std::size_t *len,
                  const PngSettings &settings)
{
    // Red pictures as palette indices: index i is red i, so that the bytes go in unchanged, or a
    // bit a pixel where they are all black or full red, as the renderer's are.
    png_color reds[256];
    for (int i = 0; i < 256; ++i)
        reds[i] = png_color{(png_byte)i, 0, 0};
    const png_color black_red[2] = {{0, 0, 0}, {255, 0, 0}};
    PixelRows rows = pic;
    Layout layout = {8, PNG_COLOR_TYPE_RGB, nullptr, 0, pic.pixels == Pixels::RGBA};
    std::vector<unsigned char> bits;
    if (pic.pixels == Pixels::RED && pack_bits(pic, &bits, &rows))
        layout = Layout{1, PNG_COLOR_TYPE_PALETTE, black_red, 2, false};
    else if (pic.pixels == Pixels::RED)
        layout = Layout{8, PNG_COLOR_TYPE_PALETTE, reds, 256, false};
    Failure error{};
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, on_error, on_warning);
    png_infop info = p ? png_create_info_struct(p) : nullptr;
    Sink sink{png, 0};
    const bool made = info != nullptr;
    bool ok = made;
    if (ok) {
        png_set_write_fn(p, &sink, put_bytes, flush_nothing);
        ok = put_rows(p, info, rows, layout, settings);
    }
    png_destroy_write_struct(&p, &info);
    if (!ok)
        return Status::error(std::string("PNG encoding failed: ") +
                             (made ? error.what : "out of memory"));
    *len = sink.len;
    return Status();
}

Status encode_png(const PixelRows &pic, std::vector<unsigned char> *png, std::size_t *len)
{
    return encode_png(pic, png, len, png_chosen(pic.pixels));
}
