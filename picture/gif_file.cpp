#include "gif_file.h"

#include <cstring>
#include <gif_lib.h>

namespace
{

// Palette index i holds red (i >> 5) / 7, green ((i >> 2) & 7) / 7 and blue (i & 3) / 3 of full
// intensity.
inline unsigned char palette_index(unsigned red, unsigned green, unsigned blue)
{
    unsigned r = (red * 7u + 127u) / 255u, g = (green * 7u + 127u) / 255u,
             b = (blue * 3u + 127u) / 255u;
    return (unsigned char)(r << 5 | g << 2 | b);
}

bool gif_failed(GifWriter *g, int error, const char *step, std::string *why)
{
    const char *what = GifErrorString(error);
    *why = std::string("GIF encoding failed at the ") + step + ": " + (what ? what : "?");
    gif_abandon(g);
    return false;
}

int to_sink(GifFileType *gif, const GifByteType *bytes, int n)
{
    auto *g = static_cast<GifWriter *>(gif->UserData);
    return g->sink(bytes, (std::size_t)n) ? n : 0;
}

} // namespace

bool gif_open(GifWriter *g, GifSink sink, int w, int h, int delay_cs, std::string *why)
{
    g->sink = std::move(sink);
    g->w = w;
    g->h = h;
    g->delay_cs = delay_cs;
    g->cur.assign((std::size_t)w * (std::size_t)h, 0);
    int error = 0;
    g->gif = EGifOpen(g, to_sink, &error);
    if (!g->gif)
        return gif_failed(g, error, "start", why);
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] =
            GifColorType{(GifByteType)((i >> 5) * 255 / 7), (GifByteType)(((i >> 2) & 7) * 255 / 7),
                         (GifByteType)((i & 3) * 255 / 3)};
    ColorMapObject *map = GifMakeMapObject(256, colors);
    EGifSetGifVersion(g->gif, true);
    bool ok = map && EGifPutScreenDesc(g->gif, w, h, 8, 0, map) == GIF_OK;
    GifFreeMapObject(map);
    // Loop for ever: the application block browsers read.
    const GifByteType loop[3] = {1, 0, 0};
    ok = ok && EGifPutExtensionLeader(g->gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(g->gif, 11, "NETSCAPE2.0") == GIF_OK &&
         EGifPutExtensionBlock(g->gif, 3, loop) == GIF_OK &&
         EGifPutExtensionTrailer(g->gif) == GIF_OK;
    return ok || gif_failed(g, g->gif->Error, "header", why);
}

bool gif_add_frame(GifWriter *g, const PixelRows &pic, std::string *why)
{
    const int step = pixel_bytes(pic.pixels);
    unsigned char reds[256]; // the index of each red alone
    for (unsigned i = 0; i < 256; ++i)
        reds[i] = palette_index(i, 0, 0);
    for (int y = 0; y < g->h; ++y) {
        const unsigned char *px = row_from_top(pic, y);
        unsigned char *out = &g->cur[(std::size_t)y * (std::size_t)g->w];
        if (step == 1)
            for (int x = 0; x < g->w; ++x)
                out[x] = reds[px[x]];
        else
            for (int x = 0; x < g->w; ++x, px += step)
                out[x] = palette_index(px[0], px[1], px[2]);
    }
    // The rectangle that differs from the last frame; the first frame is whole. A frame like
    // the last is stored as one pixel, so that it still takes its time.
    int x0 = 0, y0 = 0, x1 = g->w - 1, y1 = g->h - 1;
    if (g->nframes > 0) {
        x0 = g->w, y0 = g->h, x1 = -1, y1 = -1;
        for (int y = 0; y < g->h; ++y) {
            const unsigned char *a = &g->cur[(std::size_t)y * (std::size_t)g->w];
            const unsigned char *b = &g->prev[(std::size_t)y * (std::size_t)g->w];
            if (std::memcmp(a, b, (std::size_t)g->w) == 0)
                continue;
            y0 = y < y0 ? y : y0;
            y1 = y;
            for (int x = 0; x < g->w; ++x) {
                if (a[x] != b[x]) {
                    x0 = x < x0 ? x : x0;
                    x1 = x > x1 ? x : x1;
                }
            }
        }
        if (x1 < 0)
            x0 = y0 = x1 = y1 = 0;
    }
    // Earlier frames stay where this one does not cover them.
    GraphicsControlBlock gcb{DISPOSE_DO_NOT, false, g->delay_cs, NO_TRANSPARENT_COLOR};
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    bool ok = EGifPutExtension(g->gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK &&
              EGifPutImageDesc(g->gif, x0, y0, x1 - x0 + 1, y1 - y0 + 1, false, nullptr) == GIF_OK;
    for (int y = y0; ok && y <= y1; ++y)
        ok = EGifPutLine(g->gif, &g->cur[(std::size_t)y * (std::size_t)g->w + (std::size_t)x0],
                         x1 - x0 + 1) == GIF_OK;
    if (!ok)
        return gif_failed(g, g->gif->Error, "frame", why);
    g->prev.swap(g->cur);
    if (g->cur.empty())
        g->cur.assign(g->prev.size(), 0);
    ++g->nframes;
    return true;
}

bool gif_close(GifWriter *g, std::string *why)
{
    int error = 0;
    int done = EGifCloseFile(g->gif, &error);
    g->gif = nullptr;
    return done == GIF_OK || gif_failed(g, error, "end", why);
}

void gif_abandon(GifWriter *g)
{
    if (g->gif) {
        int error = 0;
        g->sink = [](const unsigned char *, std::size_t) { return true; }; // nothing more goes out
        EGifCloseFile(g->gif, &error);
        g->gif = nullptr;
    }
}
