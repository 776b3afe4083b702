#include "tests/support/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{

void sleep_ms(int ms)
{
    usleep((useconds_t)ms * 1000u);
}

} // namespace

bool start_xvfb(XServer *server)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    // Xvfb writes the display number it chose to descriptor 3 once it accepts connections; its
    // own messages go nowhere, so no pipe of ours can fill up and stall it.
    bool started = start_child(&server->proc, "/", [&fds] {
        int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(devnull, 1);
        dup2(devnull, 2);
        if (fds[1] == 3)
            fcntl(3, F_SETFD, 0);
        else
            dup2(fds[1], 3);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               "-noreset", "-br", (char *)nullptr);
        _exit(127);
    });
    close(fds[1]);
    std::string num;
    pollfd p{fds[0], POLLIN, 0};
    double deadline = now_ms() + 20000;
    while (started && now_ms() < deadline && poll(&p, 1, 200) >= 0) {
        char c;
        ssize_t n = p.revents ? read(fds[0], &c, 1) : 0;
        if (n == 1 && c != '\n')
            num += c;
        if ((n == 1 && c == '\n') || (p.revents && n <= 0))
            break;
    }
    close(fds[0]);
    if (num.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        stop_xvfb(server);
        return false;
    }
    server->display = ":" + num;
    setenv("DISPLAY", server->display.c_str(), 1);
    return true;
}

void stop_xvfb(XServer *server)
{
    if (server->proc.pid > 0 && server->proc.status == -2) {
        kill(server->proc.pid, SIGTERM);
        wait_exit(&server->proc, 5000);
    }
    kill_child(&server->proc); // SIGKILL if SIGTERM did not end it
    server->proc = Child{};
}

std::string window_title(Display *dpy, Window win)
{
    char *name = nullptr;
    std::string title;
    if (XFetchName(dpy, win, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

Window find_window(Display *dpy, const char *title, int timeout_ms)
{
    double deadline = now_ms() + timeout_ms;
    do {
        Window root_ret, parent, *kids = nullptr;
        unsigned int n = 0;
        Window found = 0;
        if (XQueryTree(dpy, DefaultRootWindow(dpy), &root_ret, &parent, &kids, &n)) {
            for (unsigned int i = 0; i < n && !found; ++i) {
                XWindowAttributes a;
                if (XGetWindowAttributes(dpy, kids[i], &a) && a.map_state == IsViewable &&
                    window_title(dpy, kids[i]) == title)
                    found = kids[i];
            }
            if (kids)
                XFree(kids);
        }
        if (found)
            return found;
        sleep_ms(20);
    } while (now_ms() < deadline);
    return 0;
}

bool park_window(Display *dpy, Window win, int x, int y)
{
    XMoveWindow(dpy, win, x, y);
    XSync(dpy, False);
    double deadline = now_ms() + 5000;
    while (now_ms() < deadline) {
        XWindowAttributes a;
        Window child;
        int sx = -1, sy = -1;
        if (XGetWindowAttributes(dpy, win, &a) &&
            XTranslateCoordinates(dpy, win, DefaultRootWindow(dpy), 0, 0, &sx, &sy, &child) &&
            sx == x && sy == y && a.map_state == IsViewable)
            return true;
        sleep_ms(10);
    }
    return false;
}

bool focus_window(Display *dpy, Window win)
{
    double deadline = now_ms() + 5000;
    while (now_ms() < deadline) {
        XSetInputFocus(dpy, win, RevertToParent, CurrentTime);
        XSync(dpy, False);
        Window f;
        int revert;
        XGetInputFocus(dpy, &f, &revert);
        if (f == win)
            return true;
        sleep_ms(10);
    }
    return false;
}

bool resize_window(Display *dpy, Window win, int w, int h)
{
    XResizeWindow(dpy, win, (unsigned)w, (unsigned)h);
    XSync(dpy, False);
    double deadline = now_ms() + 5000;
    while (now_ms() < deadline) {
        XWindowAttributes a;
        if (XGetWindowAttributes(dpy, win, &a) && a.width == w && a.height == h)
            return true;
        sleep_ms(10);
    }
    return false;
}

Image grab(Display *dpy, Window win)
{
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy, win, &a))
        return Image{};
    return grab_rect(dpy, win, 0, 0, a.width, a.height);
}

Image grab_rect(Display *dpy, Window win, int left, int top, int w, int h)
{
    Image img;
    XImage *xi = XGetImage(dpy, win, left, top, (unsigned)w, (unsigned)h, AllPlanes, ZPixmap);
    if (!xi)
        return img;
    img.w = w;
    img.h = h;
    img.px.resize((size_t)img.w * (size_t)img.h);
    bool direct = xi->bits_per_pixel == 32 && xi->byte_order == LSBFirst &&
                  xi->red_mask == 0xff0000 && xi->green_mask == 0xff00 && xi->blue_mask == 0xff;
    for (int y = 0; y < img.h; ++y) {
        uint32_t *row = &img.px[(size_t)y * (size_t)img.w];
        if (direct) {
            std::memcpy(row, xi->data + (size_t)y * (size_t)xi->bytes_per_line, (size_t)img.w * 4);
            for (int x = 0; x < img.w; ++x)
                row[x] &= 0xffffff;
        } else {
            for (int x = 0; x < img.w; ++x)
                row[x] = (uint32_t)(XGetPixel(xi, x, y) & 0xffffff);
        }
    }
    XDestroyImage(xi);
    return img;
}

Image wait_for_change(Display *dpy, Window win, const Image &before, int timeout_ms, bool *changed)
{
    double deadline = now_ms() + timeout_ms;
    Image img;
    do {
        img = grab(dpy, win);
        if (img.px != before.px) {
            if (changed)
                *changed = true;
            return img;
        }
        sleep_ms(1);
    } while (now_ms() < deadline);
    if (changed)
        *changed = false;
    return img;
}

void press_key(Display *dpy, unsigned long keysym, bool shift)
{
    KeyCode shift_code = XKeysymToKeycode(dpy, XK_Shift_L);
    KeyCode code = XKeysymToKeycode(dpy, keysym);
    if (shift)
        XTestFakeKeyEvent(dpy, shift_code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(dpy, shift_code, False, CurrentTime);
    XFlush(dpy);
}

void move_pointer(Display *dpy, int x, int y)
{
    XTestFakeMotionEvent(dpy, DefaultScreen(dpy), x, y, CurrentTime);
    XFlush(dpy);
}

void press_button(Display *dpy, unsigned int button, bool down)
{
    XTestFakeButtonEvent(dpy, button, down ? True : False, CurrentTime);
    XFlush(dpy);
}

void release_all(Display *dpy)
{
    XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, XK_Shift_L), False, CurrentTime);
    for (unsigned int b = 1; b <= 3; ++b)
        XTestFakeButtonEvent(dpy, b, False, CurrentTime);
    XSync(dpy, False);
}
