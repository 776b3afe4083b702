// Pictures of every pixel kind, as files and back through libpng and giflib's own decoders:
// the same colours whatever the kind, width or row order.
#include "picture/gif_file.h"
#include "picture/png_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <png.h>

namespace
{

// The colours a PNG in memory decodes to, 0xRRGGBB row by row from the top.
std::vector<uint32_t> decode(const std::vector<unsigned char> &png, std::size_t len)
{
    png_image pi;
    std::memset(&pi, 0, sizeof pi);
    pi.version = PNG_IMAGE_VERSION;
    std::vector<uint32_t> px;
    if (!png_image_begin_read_from_memory(&pi, png.data(), len))
        return px;
    pi.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(pi));
    if (png_image_finish_read(&pi, nullptr, rgb.data(), 0, nullptr))
        for (std::size_t i = 0; i < rgb.size(); i += 3)
            px.push_back((uint32_t)rgb[i] << 16 | (uint32_t)rgb[i + 1] << 8 | rgb[i + 2]);
    return px;
}

TEST(Pictures, EveryKindDecodesToItsColours)
{
    struct Case {
        Pixels pixels;
        int w, h;
        bool from_top;
        bool red_or_black; // only 0 and 255 in the red byte
    };
    const Case cases[] = {
        {Pixels::RED, 1, 1, true, true},    {Pixels::RED, 7, 3, false, true},
        {Pixels::RED, 8, 2, true, true},    {Pixels::RED, 301, 5, false, true},
        {Pixels::RED, 13, 4, true, false},  {Pixels::RGBA, 9, 3, true, false},
        {Pixels::RGB, 10, 3, false, false},
    };
    for (const Case &c : cases) {
        const int bytes = pixel_bytes(c.pixels);
        std::vector<unsigned char> buf((std::size_t)(c.w * c.h * bytes));
        std::vector<uint32_t> want; // from the top
        unsigned seed = 12345;
        for (int y = 0; y < c.h; ++y) {
            const int row = c.from_top ? y : c.h - 1 - y;
            for (int x = 0; x < c.w; ++x) {
                unsigned char *px = &buf[(std::size_t)((row * c.w + x) * bytes)];
                seed = seed * 1103515245u + 12345u;
                for (int k = 0; k < bytes; ++k)
                    px[k] = (unsigned char)(seed >> (8 + 4 * k));
                if (c.red_or_black)
                    px[0] = px[0] & 1 ? 0xff : 0;
                want.push_back((uint32_t)px[0] << 16 |
                               (bytes > 1 ? (uint32_t)px[1] << 8 | px[2] : 0));
            }
        }
        const long stride = (long)c.w * bytes;
        const PixelRows pic{c.w, c.h, c.pixels, buf.data(), c.from_top ? stride : -stride};
        std::vector<unsigned char> png;
        std::size_t len = 0;
        Status st = encode_png(pic, &png, &len);
        ASSERT_TRUE(st.ok()) << st.message();
        EXPECT_EQ(decode(png, len), want) << "kind " << (int)c.pixels << ", " << c.w << "x" << c.h;

        // A GIF frame of the picture is the one of the same colours as RGB.
        std::vector<unsigned char> rgb;
        for (uint32_t v : want)
            rgb.insert(rgb.end(),
                       {(unsigned char)(v >> 16), (unsigned char)(v >> 8), (unsigned char)v});
        std::vector<unsigned char> gifs[2];
        for (int k = 0; k < 2; ++k) {
            GifWriter g;
            auto sink = [&gifs, k](const unsigned char *b, std::size_t n) {
                gifs[k].insert(gifs[k].end(), b, b + n);
                return true;
            };
            ASSERT_TRUE(g.open(sink, c.w, c.h, 4).ok());
            ASSERT_TRUE(
                g.add_frame(k ? PixelRows{c.w, c.h, Pixels::RGB, rgb.data(), 3L * c.w} : pic).ok());
            ASSERT_TRUE(g.close().ok());
        }
        EXPECT_EQ(gifs[0], gifs[1]) << "kind " << (int)c.pixels;
    }
}

} // namespace
