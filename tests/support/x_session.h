// Drives programs on a virtual X server: starts Xvfb, finds and parks windows, sends real key
// and mouse events through XTest, reads window pixels. Used by the end-to-end tests, the
// benchmarks and the demo; not part of the viewer.
#pragma once

#include "tests/support/child.h"
#include "tests/support/image.h"

#include <X11/Xlib.h>
#include <string>

// A private Xvfb; its display number is picked by the server itself, so runs may overlap.
struct XServer {
    Child proc;
    std::string display; // ":N"
};

// Starts Xvfb with a 1024x768x24 screen and sets DISPLAY. Returns false with a reason on stderr.
bool start_xvfb(XServer *server);
// Stops the server by its process id: SIGTERM, then SIGKILL if it has not ended within 5 s.
void stop_xvfb(XServer *server);

// Finds a top-level window by its exact title, waiting up to timeout_ms.
Window find_window(Display *dpy, const char *title, int timeout_ms);
// Moves the window to (x, y) on the screen and waits until it is there and mapped.
bool park_window(Display *dpy, Window win, int x, int y);
// Gives the window the keyboard focus and waits until it has it.
bool focus_window(Display *dpy, Window win);
// Resizes the window and waits until the server reports the new size.
bool resize_window(Display *dpy, Window win, int w, int h);
// The window's title.
std::string window_title(Display *dpy, Window win);

// The window's pixels as the server holds them.
Image grab(Display *dpy, Window win);
// A rectangle of it: cheap enough to poll for a change without slowing the program watched.
Image grab_rect(Display *dpy, Window win, int left, int top, int w, int h);
// Waits until a grab differs from `before`; returns the new picture (or the last one on timeout).
Image wait_for_change(Display *dpy, Window win, const Image &before, int timeout_ms,
                      bool *changed = nullptr);

// Real key events through XTest: press and release `keysym`, with Shift held around it if asked.
void press_key(Display *dpy, unsigned long keysym, bool shift = false);
// Real pointer events through XTest, in screen coordinates.
void move_pointer(Display *dpy, int x, int y);
void press_button(Display *dpy, unsigned int button, bool down);
// Releases Shift and every mouse button, so nothing held outlives a test.
void release_all(Display *dpy);
