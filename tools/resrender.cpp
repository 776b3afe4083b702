// resrender: renders files of a result series exactly as resview shows them, on a machine with no
// display, into one PNG per file and/or one looping animated GIF. Reads through the shared load
// path and compiles and draws with the viewer's own functions; a second thread encodes each
// picture while the next one is drawn.
#include "gif_file.h"
#include "offscreen.h"
#include "png_file.h"
#include "res_file.h"
#include "viewer_state.h"

#include <GL/gl.h>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

const char USAGE[] =
    "usage: resrender [OPTIONS] [DIR]\n"
    "Renders the result series in DIR (default: the working directory) as resview shows it,\n"
    "with no display.\n"
    "  --png OUTDIR   one PNG per file: res0001.inp -> OUTDIR/res0001.png (OUTDIR made if "
    "missing)\n"
    "  --gif FILE     one looping animated GIF of the rendered files in series order\n"
    "  --fps N        frames per second of the GIF, 1..50 (default 25)\n"
    "  --first N      first index, 0..1010 (default 0)\n"
    "  --last N       last index, 0..1010 (default 1010)\n"
    "  --every K      every K-th index from the first (default 1)\n"
    "  --rot-x DEG, --rot-y DEG, --tx X, --ty Y, --tz Z\n"
    "                 the view as the viewer holds it (defaults 0, 0, 0, 0, -15)\n"
    "  --size WxH     picture size, 1..4096 each (default 300x300)\n"
    "At least one of --png and --gif. Exit status: 0 every present file of the range rendered,\n"
    "1 a broken file, none present, an output not written or no OpenGL context, 2 usage error.\n";

constexpr int SIZE_MAX_PX = 4096; // largest picture side, pixels
constexpr int FPS_MAX = 50;       // GIF delays are whole hundredths; viewers slow shorter ones

struct Options {
    const char *dir = nullptr; // the series; nullptr for the working directory
    const char *png_dir = nullptr;
    const char *gif_path = nullptr;
    int fps = 25;
    int first = 0;
    int last = FILE_INDEX_MAX;
    int every = 1;
    float rot_x = 0.0f; // degrees
    float rot_y = 0.0f; // degrees
    float tx = 0.0f;    // mesh units
    float ty = 0.0f;
    float tz = -15.0f;
    int w = 300; // pixels
    int h = 300;
};

int usage_error(const char *what, const char *arg)
{
    std::fprintf(stderr, "resrender: %s%s\n%s", what, arg, USAGE);
    return 2;
}

bool parse_int(const char *s, int lo, int hi, int *v)
{
    const char *end = s + std::strlen(s);
    auto c = std::from_chars(s, end, *v);
    return c.ec == std::errc() && c.ptr == end && c.ptr != s && *v >= lo && *v <= hi;
}

// A decimal number stored as the viewer stores the view: a single-precision float.
bool parse_float(const char *s, float *v)
{
    const char *end = s + std::strlen(s);
    double d = 0;
    auto c = std::from_chars(s + (*s == '+'), end, d);
    *v = (float)d;
    return c.ec == std::errc() && c.ptr == end && c.ptr != s && std::isfinite(*v);
}

bool parse_size(const char *s, int *w, int *h)
{
    const char *x = std::strchr(s, 'x');
    if (!x)
        return false;
    std::string ws(s, x);
    return parse_int(ws.c_str(), 1, SIZE_MAX_PX, w) && parse_int(x + 1, 1, SIZE_MAX_PX, h);
}

// -1 when the run may go on; otherwise the exit status (0 after --help).
int parse_options(int argc, char **argv, Options *o)
{
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (opt.size() < 2 || opt[0] != '-') {
            if (o->dir)
                return usage_error("more than one directory given: ", argv[i]);
            o->dir = argv[i];
            continue;
        }
        // "--name value" or "--name=value".
        const char *val = nullptr;
        std::size_t eq = opt.find('=');
        if (eq != std::string::npos) {
            val = argv[i] + eq + 1;
            opt.resize(eq);
        } else if (i + 1 < argc) {
            val = argv[i + 1];
        }
        const struct {
            const char *name;
            float *f;
        } views[] = {{"--rot-x", &o->rot_x},
                     {"--rot-y", &o->rot_y},
                     {"--tx", &o->tx},
                     {"--ty", &o->ty},
                     {"--tz", &o->tz}};
        const struct {
            const char *name;
            int *v;
            int lo, hi;
        } ints[] = {{"--first", &o->first, 0, FILE_INDEX_MAX},
                    {"--last", &o->last, 0, FILE_INDEX_MAX},
                    {"--every", &o->every, 1, FILE_INDEX_MAX + 1},
                    {"--fps", &o->fps, 1, FPS_MAX}};
        bool known = opt == "--png" || opt == "--gif" || opt == "--size";
        for (const auto &v : views)
            known |= opt == v.name;
        for (const auto &n : ints)
            known |= opt == n.name;
        if (!known)
            return usage_error("unknown option ", argv[i]);
        if (!val)
            return usage_error("a value is missing after ", argv[i]);
        if (eq == std::string::npos)
            ++i;
        bool ok = *val != '\0';
        if (opt == "--png")
            o->png_dir = val;
        else if (opt == "--gif")
            o->gif_path = val;
        else if (opt == "--size")
            ok = parse_size(val, &o->w, &o->h);
        for (const auto &v : views)
            if (opt == v.name)
                ok = parse_float(val, v.f);
        for (const auto &n : ints)
            if (opt == n.name)
                ok = parse_int(val, n.lo, n.hi, n.v);
        if (!ok)
            return usage_error(("not a valid value for " + opt + ": ").c_str(), val);
    }
    if (!o->png_dir && !o->gif_path)
        return usage_error("nothing to write: give --png, --gif or both", "");
    if (o->first > o->last)
        return usage_error("--first comes after --last", "");
    return -1;
}

// The pictures on their way from the renderer to the files: a ring of frames that the writer
// thread encodes in series order while the next ones are drawn.
constexpr int RING = 3;

struct Output {
    const Options *opt = nullptr;
    GifWriter gif;
    std::vector<unsigned char> frames[RING]; // glReadPixels rows, bottom up
    int index[RING] = {};                    // the result index of each frame
    long produced = 0;                       // frames handed over
    long consumed = 0;                       // frames written
    bool finished = false;                   // no more frames will come
    bool failed = false;                     // an output could not be written; why says so
    char why[1024] = "";
    std::mutex m;
    std::condition_variable cv;
};

bool write_frame(Output *out, int slot, char *why, std::size_t cap)
{
    const Options &o = *out->opt;
    const unsigned char *rgb = out->frames[slot].data();
    long stride = -3L * o.w;
    if (o.png_dir) {
        // res0001.inp -> res0001.png, res01000.inp -> res01000.png.
        std::string name = res_file_name(out->index[slot]);
        std::string path = std::string(o.png_dir) + "/" + name.replace(name.size() - 4, 4, ".png");
        if (!write_png(path.c_str(), o.w, o.h, rgb, stride, why, cap))
            return false;
    }
    return !o.gif_path || gif_add_frame(&out->gif, rgb, stride, why, cap);
}

void write_frames(Output *out)
{
    std::unique_lock<std::mutex> lock(out->m);
    for (;;) {
        out->cv.wait(lock, [out] { return out->consumed < out->produced || out->finished; });
        if (out->consumed == out->produced)
            return;
        int slot = (int)(out->consumed % RING);
        lock.unlock();
        char why[sizeof out->why];
        bool ok = write_frame(out, slot, why, sizeof why);
        lock.lock();
        ++out->consumed;
        if (!ok) {
            out->failed = true;
            std::memcpy(out->why, why, sizeof why);
        }
        out->cv.notify_all();
        if (!ok)
            return;
    }
}

// The counts of a run, for the progress line and the summary.
struct Tally {
    int done = 0; // indices of the range looked at
    int rendered = 0;
    int missing = 0;
    int broken = 0;
};

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Wipes the progress line, so that a diagnostic or the summary starts on a clean line.
void clear_progress(bool tty)
{
    if (tty)
        std::fputs("\r\033[K", stderr);
}

// Draws file n into the next free frame of the ring; false once the writer has failed.
bool render(Output *out, int n)
{
    vs.file_no = n;
    GLuint id = open_mesh_list();
    compile_mesh(vs.mesh);
    use_list(id);
    draw_frame();
    std::unique_lock<std::mutex> lock(out->m);
    out->cv.wait(lock, [out] { return out->produced - out->consumed < RING || out->failed; });
    if (out->failed)
        return false;
    int slot = (int)(out->produced % RING);
    lock.unlock();
    // The rows come bottom up; the writers take them so.
    glReadPixels(0, 0, out->opt->w, out->opt->h, GL_RGB, GL_UNSIGNED_BYTE,
                 out->frames[slot].data());
    out->index[slot] = n;
    lock.lock();
    ++out->produced;
    out->cv.notify_all();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    int status = parse_options(argc, argv, &opt);
    if (status >= 0)
        return status;
    DIR *d = opendir(opt.dir ? opt.dir : ".");
    if (!d) {
        std::fprintf(stderr, "resrender: cannot read %s: %s\n", opt.dir ? opt.dir : ".",
                     std::strerror(errno));
        return 1;
    }
    closedir(d);
    std::error_code ec;
    if (opt.png_dir && !std::filesystem::is_directory(opt.png_dir, ec) &&
        !std::filesystem::create_directories(opt.png_dir, ec)) {
        std::fprintf(stderr, "resrender: cannot make %s: %s\n", opt.png_dir, ec.message().c_str());
        return 1;
    }
    // Mesa's software rasteriser draws these small frames fastest on the calling thread, which
    // leaves the other processor to the encoder; the pixels are the same either way.
    setenv("LP_NUM_THREADS", "0", 0);
    char why[1024];
    if (!open_offscreen(opt.w, opt.h, why, sizeof why)) {
        std::fprintf(stderr, "resrender: %s\n", why);
        return 1;
    }
    static Output out; // three frames of up to 48 MiB each, and the GIF's state
    out.opt = &opt;
    if (opt.gif_path && !gif_open(&out.gif, opt.gif_path, opt.w, opt.h,
                                  (100 + opt.fps / 2) / opt.fps, why, sizeof why)) {
        std::fprintf(stderr, "resrender: %s\n", why);
        close_offscreen();
        return 1;
    }
    for (auto &f : out.frames)
        f.resize((std::size_t)opt.w * (std::size_t)opt.h * 3);

    // The viewer's GL state, projection and view.
    init_gl_state();
    reshape(opt.w, opt.h);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    vs.rot_x = opt.rot_x;
    vs.rot_y = opt.rot_y;
    vs.tx = opt.tx;
    vs.ty = opt.ty;
    vs.tz = opt.tz;

    std::thread writer(write_frames, &out);
    const bool tty = isatty(2) != 0;
    const int ntotal = (opt.last - opt.first) / opt.every + 1;
    const auto t0 = std::chrono::steady_clock::now();
    double shown = -1; // when the progress line was last drawn, seconds
    Tally t;
    for (int n = opt.first; n <= opt.last; n += opt.every) {
        ++t.done;
        LoadResult r = load_res(opt.dir, n, &vs.mesh);
        if (r.status == LoadStatus::CANNOT_OPEN && r.errnum == ENOENT) {
            ++t.missing; // a gap in the series, or a file not written yet
        } else if (r.status != LoadStatus::LOADED) {
            ++t.broken;
            clear_progress(tty);
            if (r.status == LoadStatus::MALFORMED)
                print_res_error(stderr, r.path, r.fault);
            else
                std::fprintf(stderr, "cannot open %s: %s\n", r.path, std::strerror(r.errnum));
        } else if (render(&out, n)) {
            ++t.rendered;
        } else {
            break;
        }
        double s = seconds_since(t0);
        if (tty && (s - shown >= 0.1 || t.done == ntotal)) {
            std::fprintf(stderr, "\rresrender: %d/%d %s, %.0f frames/s\033[K", t.done, ntotal,
                         res_file_name(n), t.rendered / (s > 0 ? s : 1));
            shown = s;
        }
    }
    {
        std::lock_guard<std::mutex> lock(out.m);
        out.finished = true;
    }
    out.cv.notify_all();
    writer.join();
    close_offscreen();

    bool failed = out.failed;
    if (!failed && opt.gif_path && t.rendered > 0)
        failed = !gif_close(&out.gif, out.why, sizeof out.why);
    else if (opt.gif_path)
        gif_abandon(&out.gif);
    clear_progress(tty);
    if (failed)
        std::fprintf(stderr, "resrender: %s\n", out.why);
    const char *dir = opt.dir ? opt.dir : ".";
    if (t.rendered + t.broken == 0)
        std::fprintf(stderr, "resrender: no result file of %d..%d is present in %s\n", opt.first,
                     opt.last, dir);
    std::string where;
    if (opt.png_dir && t.rendered > 0)
        where = std::string("PNG files in ") + opt.png_dir;
    if (opt.gif_path && t.rendered > 0 && !failed)
        where += (where.empty() ? "GIF " : ", GIF ") + std::string(opt.gif_path);
    if (where.empty())
        where = "nothing written";
    if (failed)
        where += ", stopped early";
    std::fprintf(stderr, "resrender: %d rendered, %d missing, %d broken in %.2f s; %s\n",
                 t.rendered, t.missing, t.broken, seconds_since(t0), where.c_str());
    return failed || t.broken > 0 || t.rendered == 0 ? 1 : 0;
}
