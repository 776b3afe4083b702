// A headless OpenGL context for the renderer: EGL with no X server and no DISPLAY, on Mesa's
// surfaceless platform or, where there is no Mesa, on the first GPU device that gives one; a
// pbuffer of the picture's size is its framebuffer.
#pragma once

#include "png_file.h"

#include <string>

// Makes a compatibility-profile context with a w x h pbuffer (8-bit RGB, 24-bit depth) current.
// Returns false with the reason in why: each display tried, the step that failed and its EGL
// error.
bool open_offscreen(int w, int h, std::string *why);

// Releases the context and the display.
void close_offscreen();

// Where the frames are drawn and how they come back.
struct FrameTarget {
    int w = 0;
    int h = 0;
    Pixels pixels = Pixels::RED; // RED for red on black, RGBA when there are other colours
    bool from_top = false;       // rows come back from the top down
};

// Makes the current context draw into a w x h framebuffer of its own that gives exactly a
// window's pixels: colour (the red byte alone when red_alone, else RGBA) and a 24-bit depth
// buffer; the context's end frees it. Where OpenGL cannot move the origin to the upper left as a
// window has it, the pbuffer is drawn into instead, made w x h if it is not. False with the
// reason in why.
bool open_frame_target(int w, int h, bool red_alone, FrameTarget *t, std::string *why);

// Reads the frame just drawn into `into`, w * h * pixel_bytes(t.pixels) bytes.
void read_frame(const FrameTarget &t, unsigned char *into);

// How a frame read into buffer lies there.
PixelRows frame_rows(const FrameTarget &t, const unsigned char *buffer);
