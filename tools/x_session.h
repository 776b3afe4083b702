// Drives programs on a virtual X server: starts Xvfb, finds and parks windows, sends real key
// and mouse events through XTest, reads window pixels, writes PNG files. Used by the end-to-end
// tests, the benchmarks and the demo; not part of the viewer.
#pragma once

#include <X11/Xlib.h>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A private Xvfb; its display number is picked by the server itself, so runs may overlap.
struct XServer {
    pid_t pid = -1;
    std::string display; // ":N"
};

// Starts Xvfb with a 1024x768x24 screen and sets DISPLAY. Returns false with a reason on stderr.
bool start_xvfb(XServer *server);
// Stops the server by its process id and waits for it.
void stop_xvfb(XServer *server);

// A child process with its standard output and error collected through pipes.
struct Child {
    pid_t pid = -1;
    int out_fd = -1;
    int err_fd = -1;
    std::string out;
    std::string err;
    int status = -2; // exit status once ended; -1 after a signal, -2 while running
    int signal = 0;
};

// Starts argv[0] in directory dir with extra "NAME=value" environment entries.
bool spawn(Child *child, const std::vector<std::string> &argv, const std::string &dir,
           const std::vector<std::string> &env = {});
// Collects what the child printed so far, waiting up to timeout_ms for more.
void pump(Child *child, int timeout_ms);
// Waits until the child's output contains text; false on timeout or if it ended without it.
bool wait_for_output(Child *child, const std::string &text, int timeout_ms);
// Waits for the child to end; returns false on timeout.
bool wait_exit(Child *child, int timeout_ms);
// Ends the child with SIGKILL if it still runs.
void kill_child(Child *child);
// Resident memory of a running process in KiB, from /proc.
long resident_kib(pid_t pid);

double now_ms();

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

struct Image {
    int w = 0;
    int h = 0;
    std::vector<uint32_t> px; // 0xRRGGBB, row by row from the top
    uint32_t at(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < w && y < h ? px[(size_t)y * (size_t)w + (size_t)x] : 0;
    }
};

// The window's pixels as the server holds them.
Image grab(Display *dpy, Window win);
// A rectangle of it: cheap enough to poll for a change without slowing the program watched.
Image grab_rect(Display *dpy, Window win, int left, int top, int w, int h);
// Waits until a grab differs from `before`; returns the new picture (or the last one on timeout).
Image wait_for_change(Display *dpy, Window win, const Image &before, int timeout_ms,
                      bool *changed = nullptr);
// Writes the picture as an 8-bit RGB PNG; false on failure.
bool write_png(const Image &img, const char *path);

// Real key events through XTest: press and release `keysym`, with Shift held around it if asked.
void press_key(Display *dpy, unsigned long keysym, bool shift = false);
// Real pointer events through XTest, in screen coordinates.
void move_pointer(Display *dpy, int x, int y);
void press_button(Display *dpy, unsigned int button, bool down);
// Releases Shift and every mouse button, so nothing held outlives a test.
void release_all(Display *dpy);
