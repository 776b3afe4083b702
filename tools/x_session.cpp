#include "x_session.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

double now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec * 1e3 + (double)ts.tv_nsec / 1e6;
}

namespace
{

void sleep_ms(int ms)
{
    usleep((useconds_t)ms * 1000u);
}

[[noreturn]] void exec_or_die(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

} // namespace

bool start_xvfb(XServer *server)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        exec_or_die({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", "-noreset", "-br"});
    }
    close(fds[1]);
    server->pid = pid;
    // Xvfb writes the display number it chose once it accepts connections.
    std::string num;
    pollfd p{fds[0], POLLIN, 0};
    double deadline = now_ms() + 20000;
    while (now_ms() < deadline && poll(&p, 1, 200) >= 0) {
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
    if (server->pid > 0) {
        kill(server->pid, SIGTERM);
        waitpid(server->pid, nullptr, 0);
    }
    server->pid = -1;
}

bool spawn(Child *child, const std::vector<std::string> &argv, const std::string &dir,
           const std::vector<std::string> &env)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        for (const auto &e : env)
            putenv(strdup(e.c_str()));
        exec_or_die(argv);
    }
    close(out[1]);
    close(err[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    *child = Child{};
    child->pid = pid;
    child->out_fd = out[0];
    child->err_fd = err[0];
    return true;
}

void pump(Child *child, int timeout_ms)
{
    pollfd p[2] = {{child->out_fd, POLLIN, 0}, {child->err_fd, POLLIN, 0}};
    if (child->out_fd < 0 && child->err_fd < 0)
        return;
    if (poll(p, 2, timeout_ms) <= 0)
        return;
    int *fds[2] = {&child->out_fd, &child->err_fd};
    std::string *bufs[2] = {&child->out, &child->err};
    for (int i = 0; i < 2; ++i) {
        if (*fds[i] < 0 || !p[i].revents)
            continue;
        char buf[4096];
        ssize_t n;
        while ((n = read(*fds[i], buf, sizeof buf)) > 0)
            bufs[i]->append(buf, (size_t)n);
        if (n == 0) {
            close(*fds[i]);
            *fds[i] = -1;
        }
    }
}

bool wait_for_output(Child *child, const std::string &text, int timeout_ms)
{
    double deadline = now_ms() + timeout_ms;
    while (child->out.find(text) == std::string::npos) {
        if (now_ms() > deadline || (child->out_fd < 0))
            return false;
        pump(child, 20);
    }
    return true;
}

bool wait_exit(Child *child, int timeout_ms)
{
    double deadline = now_ms() + timeout_ms;
    while (child->status == -2) {
        pump(child, 10);
        int st = 0;
        pid_t r = waitpid(child->pid, &st, WNOHANG);
        if (r == child->pid) {
            child->status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            child->signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
            // Collect what is still in the pipes.
            while (child->out_fd >= 0 || child->err_fd >= 0)
                pump(child, 100);
            return true;
        }
        if (now_ms() > deadline)
            return false;
    }
    return true;
}

void kill_child(Child *child)
{
    if (child->pid > 0 && child->status == -2) {
        kill(child->pid, SIGKILL);
        wait_exit(child, 5000);
    }
    if (child->out_fd >= 0)
        close(child->out_fd);
    if (child->err_fd >= 0)
        close(child->err_fd);
    child->out_fd = child->err_fd = -1;
}

long resident_kib(pid_t pid)
{
    std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE *f = std::fopen(path.c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    std::fclose(f);
    return kib;
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

namespace
{

void put_be32(std::vector<unsigned char> &v, uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8)
        v.push_back((unsigned char)(x >> s));
}

void put_chunk(FILE *f, const char *type, const std::vector<unsigned char> &data)
{
    std::vector<unsigned char> c;
    put_be32(c, (uint32_t)data.size());
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    uLong crc = crc32(0, c.data() + 4, (uInt)(c.size() - 4));
    put_be32(c, (uint32_t)crc);
    std::fwrite(c.data(), 1, c.size(), f);
}

} // namespace

bool write_png(const Image &img, const char *path)
{
    std::vector<unsigned char> raw;
    raw.reserve((size_t)img.h * ((size_t)img.w * 3 + 1));
    for (int y = 0; y < img.h; ++y) {
        raw.push_back(0); // no filter
        for (int x = 0; x < img.w; ++x) {
            uint32_t p = img.at(x, y);
            raw.push_back((unsigned char)(p >> 16));
            raw.push_back((unsigned char)(p >> 8));
            raw.push_back((unsigned char)p);
        }
    }
    uLongf zlen = compressBound((uLong)raw.size());
    std::vector<unsigned char> z(zlen);
    if (compress2(z.data(), &zlen, raw.data(), (uLong)raw.size(), 9) != Z_OK)
        return false;
    z.resize(zlen);
    FILE *f = std::fopen(path, "wb");
    if (!f)
        return false;
    std::fwrite("\x89PNG\r\n\x1a\n", 1, 8, f);
    std::vector<unsigned char> ihdr;
    put_be32(ihdr, (uint32_t)img.w);
    put_be32(ihdr, (uint32_t)img.h);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    put_chunk(f, "IHDR", ihdr);
    put_chunk(f, "IDAT", z);
    put_chunk(f, "IEND", {});
    return std::fclose(f) == 0;
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
