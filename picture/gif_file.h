// Looping animated GIFs of rendered pictures, encoded frame by frame through giflib. No OpenGL,
// no files: the bytes go to the caller's sink as they are made.
#pragma once

#include "render/pixels.h"
#include "util/status.h"

#include <cstddef>
#include <functional>
#include <vector>

struct GifFileType;

// Takes the next bytes of the GIF; false when they could not be written.
using GifSink = std::function<bool(const unsigned char *bytes, std::size_t n)>;

// An animated GIF being encoded. Dropped before close, it stops encoding and sends nothing more.
class GifWriter
{
  public:
    GifWriter() = default;
    ~GifWriter();
    GifWriter(const GifWriter &) = delete; // giflib holds its address
    GifWriter &operator=(const GifWriter &) = delete;

    // Starts an animation of w x h frames that loops for ever, each frame shown for delay_cs
    // hundredths of a second, its bytes going to sink. On an error the writer is abandoned.
    Status open(GifSink sink, int w, int h, int delay_cs);
    // Appends a frame of the animation's size. Colours map to a fixed 256-colour palette that
    // holds black, red and the other primaries exactly. Only the rectangle that changed is stored.
    Status add_frame(const PixelRows &pic);
    // Ends the animation: its last bytes go to the sink.
    Status close();
    // Stops encoding without ending the animation.
    void abandon();

  private:
    static int to_sink(GifFileType *gif, const unsigned char *bytes, int n);
    Status failed(int error, const char *step);
    void changed_rectangle(int *x0, int *y0, int *x1, int *y1) const;

    GifFileType *gif_ = nullptr;
    GifSink sink_;
    int w_ = 0;
    int h_ = 0;
    int delay_cs_ = 4;                // shown for this long each, hundredths of a second
    std::vector<unsigned char> prev_; // palette indices of the last frame, row by row from the top
    std::vector<unsigned char> cur_;
    int nframes_ = 0;
};
