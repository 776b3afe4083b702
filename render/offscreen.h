// A headless OpenGL context for the renderer: EGL with no X server and no DISPLAY, on Mesa's
// surfaceless platform or, where there is no Mesa, on the first GPU device that gives one. The
// frames go to a framebuffer of the context's own (or to its pbuffer) and come back as pixels.
#pragma once

#include "render/pixels.h"
#include "util/status.h"

#include <EGL/egl.h>

// Where the frames are drawn and how they come back.
struct FrameTarget {
    int w = 0;
    int h = 0;
    Pixels pixels = Pixels::RED; // RED for red on black, RGBA when there are other colours
    bool from_top = false;       // rows come back from the top down
};

// One context, current on the thread that opened it, with its surface and framebuffer. The
// destructor releases all of them; so does a failed open, whatever it had made by then.
class OffscreenContext
{
  public:
    OffscreenContext() = default;
    ~OffscreenContext();
    OffscreenContext(const OffscreenContext &) = delete;
    OffscreenContext &operator=(const OffscreenContext &) = delete;

    // Makes a compatibility-profile context with a w x h pbuffer (8-bit RGB, 24-bit depth)
    // current. The error names each display tried, the step that failed and its EGL error.
    Status open(int w, int h);

    // Makes the context draw into a w x h framebuffer of its own that gives exactly a window's
    // pixels: colour (the red byte alone when red_alone, else RGBA) and a 24-bit depth buffer.
    // Where OpenGL cannot move the origin to the upper left as a window has it, the pbuffer is
    // drawn into instead, made w x h if it is not.
    Status open_frame_target(int w, int h, bool red_alone);

    const FrameTarget &target() const
    {
        return target_;
    }

    // Reads the frame just drawn into `into`, w * h * pixel_bytes(target().pixels) bytes.
    void read_frame(unsigned char *into) const;

    // How a frame read into buffer lies there.
    PixelRows frame_rows(const unsigned char *buffer) const;

  private:
    bool try_display(EGLDisplay d, const char *what, int w, int h, std::string *tried);
    Status pbuffer_of_size(int w, int h);
    void release_framebuffer();
    void close();

    EGLDisplay dpy_ = EGL_NO_DISPLAY;
    EGLContext ctx_ = EGL_NO_CONTEXT;
    EGLSurface surf_ = EGL_NO_SURFACE;
    EGLConfig config_ = nullptr;
    unsigned framebuffer_ = 0;           // 0 while there is none
    unsigned renderbuffers_[2] = {0, 0}; // colour and depth
    FrameTarget target_;
};
