// window-shot: runs a program on a private virtual X server, waits for its window and saves a
// picture of it as PNG. Lets a machine without a display show what the viewer draws.
//   window-shot [--title T] [--size WxH] OUT.png DIR COMMAND [ARG...]
#include "tests/support/x_session.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const char *title = "Sample 6";
    int w = 0, h = 0;
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
        if (std::strcmp(argv[i], "--title") == 0)
            title = argv[i + 1];
        else if (std::strcmp(argv[i], "--size") == 0 &&
                 std::sscanf(argv[i + 1], "%dx%d", &w, &h) == 2)
            continue;
        else
            break;
    }
    if (argc - i < 3) {
        std::fprintf(stderr, "usage: window-shot [--title T] [--size WxH] OUT.png DIR COMMAND "
                             "[ARG...]\n");
        return 2;
    }
    const char *out = argv[i];
    std::string dir = argv[i + 1];
    std::vector<std::string> cmd(argv + i + 2, argv + argc);

    XServer server;
    if (!start_xvfb(&server))
        return 1;
    int status = 1;
    Display *dpy = XOpenDisplay(server.display.c_str());
    Child child;
    Window win = 0;
    if (dpy && spawn(&child, cmd, dir))
        win = find_window(dpy, title, 20000);
    if (win && park_window(dpy, win, 100, 100) && (w == 0 || resize_window(dpy, win, w, h))) {
        // Take the picture once two grabs in a row agree: the first frame has been drawn.
        Image img = grab(dpy, win);
        for (int k = 0; k < 100; ++k) {
            bool changed = false;
            Image next = wait_for_change(dpy, win, img, 100, &changed);
            img = next;
            if (!changed)
                break;
        }
        if (write_image_png(img, out)) {
            std::printf("%s\n", out);
            status = 0;
        } else {
            std::fprintf(stderr, "window-shot: cannot write %s\n", out);
        }
    } else {
        std::fprintf(stderr, "window-shot: no window titled \"%s\" appeared\n", title);
    }
    kill_child(&child);
    std::fputs(child.err.c_str(), stderr);
    if (dpy)
        XCloseDisplay(dpy);
    stop_xvfb(&server);
    return status;
}
