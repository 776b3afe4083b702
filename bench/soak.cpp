// Soak: the real resview on a private Xvfb with the max-size mesh. Presses M (reload) 1000 times
// after 50 to warm up and reports resident memory along the way, then measures the time from a key
// press to the frame that shows its result.
#include "bench/bench_support.h"

#include "tests/support/x_session.h"

#include <X11/keysym.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    int presses = argc > 1 ? std::atoi(argv[1]) : 1000;
    XServer server;
    if (!start_xvfb(&server))
        return 1;
    Display *dpy = XOpenDisplay(server.display.c_str());
    TempDir dir;
    write_max_size_file(dir.path);
    Child viewer;
    int status = 1;
    Window win = 0;
    if (dpy && spawn(&viewer, {RESVIEW_EXE}, dir.path))
        win = find_window(dpy, "Sample 6", 20000);
    if (win && park_window(dpy, win, 100, 100) && focus_window(dpy, win)) {
        const std::string echo = "file_no:1 nele:4999\n";
        // One reload at a time, waiting for its echo line.
        std::string want;
        auto reload = [&] {
            press_key(dpy, XK_m);
            want += echo;
            return wait_for_output(&viewer, want, 30000);
        };
        // Warm up: the allocator and the GL stack reach their working size in the first reloads.
        bool ok = true;
        long start = resident_kib(viewer.pid);
        for (int i = 0; ok && i < 50; ++i)
            ok = reload();
        long before = resident_kib(viewer.pid);
        long half = before;
        double t0 = now_ms();
        for (int i = 0; ok && i < presses; ++i) {
            ok = reload();
            if (i == presses / 2)
                half = resident_kib(viewer.pid);
        }
        double soak_ms = now_ms() - t0;
        long after = resident_kib(viewer.pid);

        // Key to frame: C and Z move the mesh 3 pixels; time until the middle row, which crosses
        // the ring, changes. Polling one row keeps the watcher off the viewer's processor time.
        std::vector<double> lat;
        Image row = grab_rect(dpy, win, 0, 150, 300, 1);
        for (int i = 0; ok && i < 60; ++i) {
            double k0 = now_ms();
            press_key(dpy, i % 2 ? XK_z : XK_c);
            bool changed = false;
            while (!changed && now_ms() - k0 < 5000) {
                Image next = grab_rect(dpy, win, 0, 150, 300, 1);
                changed = next.px != row.px;
                row = next;
            }
            lat.push_back(now_ms() - k0);
            ok = changed;
        }
        if (ok) {
            std::sort(lat.begin(), lat.end());
            print_figure("reloads pressed (M), max-size mesh", presses, "");
            print_figure("one reload key, as the soak ran it", soak_ms / presses, "ms");
            print_figure("resident memory at start", (double)start / 1024.0, "MiB");
            print_figure("resident memory after 50 warm-up reloads", (double)before / 1024.0,
                         "MiB");
            print_figure("resident memory half-way", (double)half / 1024.0, "MiB");
            print_figure("resident memory after the reloads", (double)after / 1024.0, "MiB");
            print_figure("growth over the reloads (goal: under 8 MiB)",
                         (double)(after - before) / 1024.0, "MiB");
            print_figure("key to frame, median of 60 (goal: 33 ms)", lat[lat.size() / 2], "ms");
            print_figure("key to frame, slowest of 60", lat.back(), "ms");
            status = 0;
        } else {
            std::fprintf(stderr, "soak: the viewer stopped answering\n%s", viewer.err.c_str());
        }
    } else {
        std::fprintf(stderr, "soak: no viewer window\n%s", viewer.err.c_str());
    }
    kill_child(&viewer);
    if (dpy)
        XCloseDisplay(dpy);
    stop_xvfb(&server);
    return status;
}
