#include "picture/gif_file.h"

#include <cstring>
#include <gif_lib.h>
#include <string>

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

} // namespace

GifWriter::~GifWriter()
{
    abandon();
}

Status GifWriter::failed(int error, const char *step)
{
    const char *what = GifErrorString(error);
    abandon();
    return Status::error(std::string("GIF encoding failed at the ") + step + ": " +
                         (what ? what : "?"));
}

int GifWriter::to_sink(GifFileType *gif, const GifByteType *bytes, int n)
{
    auto *g = static_cast<GifWriter *>(gif->UserData);
    return g->sink_(bytes, (std::size_t)n) ? n : 0;
}

Status GifWriter::open(GifSink sink, int w, int h, int delay_cs)
{
    sink_ = std::move(sink);
    w_ = w;
    h_ = h;
    delay_cs_ = delay_cs;
    cur_.assign((std::size_t)w * (std::size_t)h, 0);
    int error = 0;
    gif_ = EGifOpen(this, to_sink, &error);
    if (!gif_)
        return failed(error, "start");
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] =
            GifColorType{(GifByteType)((i >> 5) * 255 / 7), (GifByteType)(((i >> 2) & 7) * 255 / 7),
                         (GifByteType)((i & 3) * 255 / 3)};
    ColorMapObject *map = GifMakeMapObject(256, colors);
    EGifSetGifVersion(gif_, true);
    bool ok = map && EGifPutScreenDesc(gif_, w, h, 8, 0, map) == GIF_OK;
    GifFreeMapObject(map);
    // Loop for ever: the application block browsers read.
    const GifByteType loop[3] = {1, 0, 0};
    ok = ok && EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif_, 11, "NETSCAPE2.0") == GIF_OK &&
         EGifPutExtensionBlock(gif_, 3, loop) == GIF_OK && EGifPutExtensionTrailer(gif_) == GIF_OK;
    return ok ? Status() : failed(gif_->Error, "header");
}

// The rectangle in which this frame differs from the last; the first frame is whole. A frame like
// the last is stored as one pixel, so that it still takes its time.
void GifWriter::changed_rectangle(int *x0, int *y0, int *x1, int *y1) const
{
    *x0 = 0, *y0 = 0, *x1 = w_ - 1, *y1 = h_ - 1;
    if (nframes_ == 0)
        return;
    *x0 = w_, *y0 = h_, *x1 = -1, *y1 = -1;
    for (int y = 0; y < h_; ++y) {
        const unsigned char *a = &cur_[(std::size_t)y * (std::size_t)w_];
        const unsigned char *b = &prev_[(std::size_t)y * (std::size_t)w_];
        if (std::memcmp(a, b, (std::size_t)w_) == 0)
            continue;
        *y0 = y < *y0 ? y : *y0;
        *y1 = y;
        for (int x = 0; x < w_; ++x) {
            if (a[x] != b[x]) {
                *x0 = x < *x0 ? x : *x0;
                *x1 = x > *x1 ? x : *x1;
            }
        }
    }
    if (*x1 < 0)
        *x0 = *y0 = *x1 = *y1 = 0;
}

Status GifWriter::add_frame(const PixelRows &pic)
{
    const int step = pixel_bytes(pic.pixels);
    unsigned char reds[256]; // the index of each red alone
    for (unsigned i = 0; i < 256; ++i)
        reds[i] = palette_index(i, 0, 0);
    for (int y = 0; y < h_; ++y) {
        const unsigned char *px = row_from_top(pic, y);
        unsigned char *out = &cur_[(std::size_t)y * (std::size_t)w_];
        if (step == 1)
            for (int x = 0; x < w_; ++x)
                out[x] = reds[px[x]];
        else
            for (int x = 0; x < w_; ++x, px += step)
                out[x] = palette_index(px[0], px[1], px[2]);
    }
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    changed_rectangle(&x0, &y0, &x1, &y1);
    // Earlier frames stay where this one does not cover them.
    GraphicsControlBlock gcb{DISPOSE_DO_NOT, false, delay_cs_, NO_TRANSPARENT_COLOR};
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    bool ok = EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK &&
              EGifPutImageDesc(gif_, x0, y0, x1 - x0 + 1, y1 - y0 + 1, false, nullptr) == GIF_OK;
    for (int y = y0; ok && y <= y1; ++y)
        ok = EGifPutLine(gif_, &cur_[(std::size_t)y * (std::size_t)w_ + (std::size_t)x0],
                         x1 - x0 + 1) == GIF_OK;
    if (!ok)
        return failed(gif_->Error, "frame");
    prev_.swap(cur_);
    if (cur_.empty())
        cur_.assign(prev_.size(), 0);
    ++nframes_;
    return Status();
}

Status GifWriter::close()
{
    int error = 0;
    int done = EGifCloseFile(gif_, &error);
    gif_ = nullptr;
    return done == GIF_OK ? Status() : failed(error, "end");
}

void GifWriter::abandon()
{
    if (gif_) {
        int error = 0;
        sink_ = [](const unsigned char *, std::size_t) { return true; }; // nothing more goes out
        EGifCloseFile(gif_, &error);
        gif_ = nullptr;
    }
}
