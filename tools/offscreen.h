// A headless OpenGL context for the renderer: EGL with no X server and no DISPLAY, on Mesa's
// surfaceless platform or, where there is no Mesa, on the first GPU device that gives one; the
// frames go to a framebuffer of the renderer's own (or the context's pbuffer), and the process is
// set up for drawing many of them.
#pragma once

#include "png_file.h"

#include <string>

// Keeps freed memory in the process: Mesa's software rasteriser takes and frees its working
// memory every frame, and handing it back to the system each time made a frame of the sample
// series a third slower (sbrk, page faults).
void keep_heap_between_frames();

// Before the context is made, for meshes of `elements` (those of the series' first file): Mesa's
// rasteriser on the drawing thread for a small mesh, unless LP_NUM_THREADS is set. Its threads
// take each frame and are waited for, which costs more than they save for a small mesh, whatever
// the picture's size. Measured on two processors, ms a frame on the drawing thread against with
// the threads: the sample series (1280 elements) 1.2 against 1.7 at 300x300, 4.1 against 4.5 at
// 1920x1080; max-size meshes (4999) 9.5 against 8.3 at 300x300, 12 against 11 at 600x600.
void choose_rasteriser_threads(int elements);

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
