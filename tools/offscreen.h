// A headless OpenGL context for the renderer: EGL with no X server and no DISPLAY, on Mesa's
// surfaceless platform or, where there is no Mesa, on the first GPU device that gives one; a
// pbuffer of the picture's size is its framebuffer.
#pragma once

#include <string>

// Makes a compatibility-profile context with a w x h pbuffer (8-bit RGB, 24-bit depth) current.
// Returns false with the reason in why: each display tried, the step that failed and its EGL
// error.
bool open_offscreen(int w, int h, std::string *why);

// Releases the context and the display.
void close_offscreen();
