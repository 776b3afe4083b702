// Looping animated GIF files of rendered pictures, written frame by frame through giflib. No
// OpenGL.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct GifFileType;

// An animated GIF being written. Frames go into a temporary file that gif_close renames into
// place, so the path never names a half-written animation.
struct GifWriter {
    GifFileType *gif = nullptr;
    std::string path;
    std::string tmp;
    int w = 0;
    int h = 0;
    int delay_cs = 4;                // shown for this long each, hundredths of a second
    std::vector<unsigned char> prev; // palette indices of the last frame, row by row from the top
    std::vector<unsigned char> cur;
    int nframes = 0;
};

// Starts an animation of w x h frames that loops for ever. False with the reason in why.
bool gif_open(GifWriter *g, const char *path, int w, int h, int delay_cs, char *why,
              std::size_t why_cap);
// Appends a frame of 8-bit RGB pixels, laid out as write_png takes them (row_stride in bytes,
// negative for rows from the bottom up). Colours map to a fixed 256-colour palette that holds
// black, red and the other primaries exactly. Only the rectangle that changed is stored.
bool gif_add_frame(GifWriter *g, const unsigned char *rgb, long row_stride, char *why,
                   std::size_t why_cap);
// Finishes the file and renames it into place.
bool gif_close(GifWriter *g, char *why, std::size_t why_cap);
// Closes and removes the temporary file without writing the animation.
void gif_abandon(GifWriter *g);
