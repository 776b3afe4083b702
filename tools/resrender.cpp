// resrender: renders files of a result series exactly as resview shows them, on a machine with no
// display, into one PNG per file and/or one looping animated GIF. Reads through the shared load
// path and compiles and draws with the viewer's own functions; a second thread encodes each
// picture while the next one is drawn.
#include "gif_file.h"
#include "offscreen.h"
#include "png_file.h"
#include "res_file.h"
#include "series_tool.h"
#include "viewer_state.h"

#include <GL/gl.h>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
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
    const char *png_dir = nullptr;
    const char *gif_path = nullptr;
    int fps = 25;
    float rot_x = 0.0f; // degrees
    float rot_y = 0.0f; // degrees
    float tx = 0.0f;    // mesh units
    float ty = 0.0f;
    float tz = -15.0f;
    int w = 300; // pixels
    int h = 300;
};

// A decimal number stored as the viewer stores the view: a single-precision float.
bool parse_float(const char *s, float *v)
{
    double d = 0;
    if (!parse_number(s, &d))
        return false;
    *v = (float)d;
    return std::isfinite(*v);
}

bool parse_size(const char *s, int *w, int *h)
{
    const char *x = std::strchr(s, 'x');
    return x && parse_int(std::string(s, x).c_str(), 1, SIZE_MAX_PX, w) &&
           parse_int(x + 1, 1, SIZE_MAX_PX, h);
}

// -1 when the run may go on; otherwise the exit status (0 after --help).
int parse_options(int argc, char **argv, Options *o, SeriesRun *run)
{
    std::vector<Option> opts = {
        {"--png", true, [o](const char *v) { return (o->png_dir = v) != nullptr; }},
        {"--gif", true, [o](const char *v) { return (o->gif_path = v) != nullptr; }},
        {"--fps", true, [o](const char *v) { return parse_int(v, 1, FPS_MAX, &o->fps); }},
        {"--rot-x", true, [o](const char *v) { return parse_float(v, &o->rot_x); }},
        {"--rot-y", true, [o](const char *v) { return parse_float(v, &o->rot_y); }},
        {"--tx", true, [o](const char *v) { return parse_float(v, &o->tx); }},
        {"--ty", true, [o](const char *v) { return parse_float(v, &o->ty); }},
        {"--tz", true, [o](const char *v) { return parse_float(v, &o->tz); }},
        {"--size", true, [o](const char *v) { return parse_size(v, &o->w, &o->h); }},
    };
    for (auto &r : range_options(run))
        opts.push_back(r);
    int status = parse_command_line(argc, argv, run->program, USAGE, opts, &run->dir);
    if (status < 0 && !o->png_dir && !o->gif_path)
        status = usage_error(run->program, USAGE, "nothing to write: give --png, --gif or both");
    return status < 0 ? start_run(run, USAGE) : status;
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
    char why[1024] = "";                     // written by the writer thread alone
    std::mutex m;
    std::condition_variable cv;
};

bool write_frame(Output *out, int slot, char *why, std::size_t cap)
{
    const Options &o = *out->opt;
    const unsigned char *rgb = out->frames[slot].data();
    long stride = -3L * o.w;
    if (o.png_dir) {
        std::string path = std::string(o.png_dir) + "/" + output_name(out->index[slot], ".png");
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
        bool ok = write_frame(out, slot, out->why, sizeof out->why);
        lock.lock();
        ++out->consumed;
        out->failed = !ok;
        out->cv.notify_all();
        if (!ok)
            return;
    }
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
    SeriesRun run;
    run.program = "resrender";
    run.rate_unit = "frames/s";
    int status = parse_options(argc, argv, &opt, &run);
    if (status >= 0)
        return status;
    // Mesa's software rasteriser draws these small frames fastest on the calling thread, which
    // leaves the other processor to the encoder; the pixels are the same either way.
    setenv("LP_NUM_THREADS", "0", 0);
    char why[1024];
    if (!open_offscreen(opt.w, opt.h, why, sizeof why)) {
        std::fprintf(stderr, "resrender: %s\n", why);
        return 1;
    }
    // The outputs only once there is a context to draw them.
    if (opt.png_dir && !make_output_dir(&run, opt.png_dir)) {
        close_offscreen();
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
    for (int n = run.first; n <= run.last; n += run.every) {
        if (load_next(&run, n, &vs.mesh)) {
            if (!render(&out, n))
                break;
            ++run.written;
        }
        show_progress(&run, n);
    }
    {
        std::lock_guard<std::mutex> lock(out.m);
        out.finished = true;
    }
    out.cv.notify_all();
    writer.join();
    close_offscreen();

    bool failed = out.failed;
    if (!failed && opt.gif_path && run.written > 0)
        failed = !gif_close(&out.gif, out.why, sizeof out.why);
    else if (opt.gif_path)
        gif_abandon(&out.gif);
    std::string where;
    if (opt.png_dir && run.written > 0)
        where = std::string("PNG files in ") + opt.png_dir;
    if (opt.gif_path && run.written > 0 && !failed)
        where += (where.empty() ? "GIF " : ", GIF ") + std::string(opt.gif_path);
    if (where.empty())
        where = "nothing written";
    if (failed)
        where += ", stopped early";
    return finish_run(&run, "rendered", failed ? out.why : nullptr, where);
}
