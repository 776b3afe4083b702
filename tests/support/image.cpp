#include "tests/support/image.h"

#include "picture/png_file.h"
#include "tools/common/whole_file.h"

#include <cstring>
#include <gif_lib.h>
#include <png.h>

bool write_image_png(const Image &img, const std::string &path)
{
    std::vector<unsigned char> rgb((size_t)img.w * (size_t)img.h * 3);
    for (size_t i = 0; i < img.px.size(); ++i) {
        rgb[3 * i] = (unsigned char)(img.px[i] >> 16);
        rgb[3 * i + 1] = (unsigned char)(img.px[i] >> 8);
        rgb[3 * i + 2] = (unsigned char)img.px[i];
    }
    std::vector<unsigned char> png;
    std::size_t len = 0;
    return encode_png({img.w, img.h, Pixels::RGB, rgb.data(), (long)img.w * 3}, &png, &len).ok() &&
           write_whole_file(path, png.data(), len).ok();
}

Image read_png(const std::string &path)
{
    png_image pi;
    std::memset(&pi, 0, sizeof pi);
    pi.version = PNG_IMAGE_VERSION;
    Image img;
    if (!png_image_begin_read_from_file(&pi, path.c_str()))
        return img;
    pi.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(pi));
    if (!png_image_finish_read(&pi, nullptr, rgb.data(), 0, nullptr))
        return img;
    img.w = (int)pi.width;
    img.h = (int)pi.height;
    img.px.resize((size_t)img.w * (size_t)img.h);
    for (size_t i = 0; i < img.px.size(); ++i)
        img.px[i] = (uint32_t)rgb[3 * i] << 16 | (uint32_t)rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
    return img;
}

Gif read_gif(const std::string &path)
{
    Gif gif;
    int error = 0;
    GifFileType *g = DGifOpenFileName(path.c_str(), &error);
    if (!g)
        return gif;
    if (DGifSlurp(g) != GIF_OK) {
        DGifCloseFile(g, &error);
        return gif;
    }
    Image screen;
    screen.w = g->SWidth;
    screen.h = g->SHeight;
    screen.px.assign((size_t)screen.w * (size_t)screen.h, 0);
    gif.ok = true;
    for (int i = 0; i < g->ImageCount; ++i) {
        const SavedImage &si = g->SavedImages[i];
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(g, i, &gcb);
        const ColorMapObject *map = si.ImageDesc.ColorMap ? si.ImageDesc.ColorMap : g->SColorMap;
        for (int y = 0; map && y < si.ImageDesc.Height; ++y) {
            for (int x = 0; x < si.ImageDesc.Width; ++x) {
                int c = si.RasterBits[y * si.ImageDesc.Width + x];
                int sx = si.ImageDesc.Left + x, sy = si.ImageDesc.Top + y;
                if (c == gcb.TransparentColor || c >= map->ColorCount || sx >= screen.w ||
                    sy >= screen.h)
                    continue;
                const GifColorType &col = map->Colors[c];
                screen.px[(size_t)sy * (size_t)screen.w + (size_t)sx] =
                    (uint32_t)col.Red << 16 | (uint32_t)col.Green << 8 | col.Blue;
            }
        }
        gif.frames.push_back(screen);
        gif.delays_cs.push_back(gcb.DelayTime);
        for (int e = 0; e < si.ExtensionBlockCount; ++e) {
            const ExtensionBlock &b = si.ExtensionBlocks[e];
            if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
                std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0 && e + 1 < si.ExtensionBlockCount &&
                si.ExtensionBlocks[e + 1].ByteCount >= 3)
                gif.loop_count =
                    si.ExtensionBlocks[e + 1].Bytes[1] | si.ExtensionBlocks[e + 1].Bytes[2] << 8;
        }
    }
    DGifCloseFile(g, &error);
    return gif;
}
