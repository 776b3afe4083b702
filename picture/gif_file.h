// Looping animated GIFs of rendered pictures, encoded frame by frame through giflib. No OpenGL,
// no files: the bytes go to the caller's sink as they are made.
#pragma once

#include "png_file.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct GifFileType;

// Takes the next bytes of the GIF; false when they could not be written.
using GifSink = std::function<bool(const unsigned char *bytes, std::size_t n)>;

// An animated GIF being encoded.
struct GifWriter {
    GifFileType *gif = nullptr;
    GifSink sink;
    int w = 0;
    int h = 0;
    int delay_cs = 4;                // shown for this long each, hundredths of a second
    std::vector<unsigned char> prev; // palette indices of the last frame, row by row from the top
    std::vector<unsigned char> cur;
    int nframes = 0;
};

// Starts an animation of w x h frames that loops for ever, its bytes going to sink. False with
// the reason in why (the writer is then closed).
bool gif_open(GifWriter *g, GifSink sink, int w, int h, int delay_cs, std::string *why);
// Appends a frame of the animation's size. Colours map to a fixed 256-colour palette that holds
// black, red and the other primaries exactly. Only the rectangle that changed is stored.
bool gif_add_frame(GifWriter *g, const PixelRows &pic, std::string *why);
// Ends the animation: its last bytes go to the sink. False with the reason in why.
bool gif_close(GifWriter *g, std::string *why);
// Stops encoding without ending the animation.
void gif_abandon(GifWriter *g);
