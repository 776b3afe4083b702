// resrender: renders files of a result series exactly as resview shows them, on a machine with no
// display, into one PNG per file and/or one looping animated GIF. Reads through the shared load
// path and compiles and draws with the viewer's own functions; a second thread encodes each
// picture while the next one is drawn.
#include "gif_file.h"
#include "health.h"
#include "offscreen.h"
#include "png_file.h"
#include "res_file.h"
#include "series_tool.h"
#include "viewer_state.h"
#include "whole_file.h"

#include <GL/gl.h>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <zlib.h>

namespace
{

const char USAGE[] =
    "usage: resrender [OPTIONS] [DIR]\n"
    "Renders the result series in DIR (default: the working directory) as resview shows it,\n"
    "with no display.\n"
    "  --png OUTDIR   one PNG per file: res0001.inp -> OUTDIR/res0001.png (OUTDIR made if "
    "missing)\n"
    "  --gif FILE     one looping animated GIF of the rendered files in series order (its folder\n"
    "                 made if missing)\n"
    "  --fps N        frames per second of the GIF, 1..50 (default 25)\n"
    "  --first N      first index, 0..1010 (default 0)\n"
    "  --last N       last index, 0..1010 (default 1010)\n"
    "  --every K      every K-th index from the first (default 1)\n"
    "  --rot-x DEG, --rot-y DEG, --tx X, --ty Y, --tz Z\n"
    "                 the view as the viewer holds it (defaults 0, 0, 0, 0, -15)\n"
    "  --size WxH     picture size, 1..4096 each (default 300x300)\n"
    "  --mark         inverted elements filled and degenerate ones drawn in yellow\n"
    "  --follow       then go on rendering files of the range as they are written: each PNG as\n"
    "                 its file completes, the GIF when the follow ends (SIGINT, SIGTERM)\n"
    "  --poll SECONDS with --follow, on file systems without events: a file is complete once\n"
    "                 unchanged for this long\n"
    "  --idle SECONDS with --follow, end after this long without a complete file\n"
    "  --             ends the options: a DIR that begins with '-' follows\n"
    "At least one of --png and --gif; a name beginning with '-' is given as --png=NAME.\n"
    "Exit status: 0 every present file of the range rendered, 1 a broken file, none present,\n"
    "an output not written or no OpenGL context, 2 usage error, 128 + N when stopped by\n"
    "signal N (SIGINT, SIGTERM, SIGHUP: the file at hand is finished, the GIF not written).\n";

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
    bool mark = false; // yellow where the mesh goes wrong
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
        {"--png", Takes::PATH, [o](const char *v) { return (o->png_dir = v) != nullptr; }},
        {"--gif", Takes::PATH, [o](const char *v) { return (o->gif_path = v) != nullptr; }},
        {"--fps", Takes::NUMBER, [o](const char *v) { return parse_int(v, 1, FPS_MAX, &o->fps); }},
        {"--rot-x", Takes::NUMBER, [o](const char *v) { return parse_float(v, &o->rot_x); }},
        {"--rot-y", Takes::NUMBER, [o](const char *v) { return parse_float(v, &o->rot_y); }},
        {"--tx", Takes::NUMBER, [o](const char *v) { return parse_float(v, &o->tx); }},
        {"--ty", Takes::NUMBER, [o](const char *v) { return parse_float(v, &o->ty); }},
        {"--tz", Takes::NUMBER, [o](const char *v) { return parse_float(v, &o->tz); }},
        {"--size", Takes::TEXT, [o](const char *v) { return parse_size(v, &o->w, &o->h); }},
        {"--mark", Takes::NOTHING, [o](const char *) { return o->mark = true; }},
    };
    for (auto &r : range_options(run))
        opts.push_back(r);
    for (auto &f : follow_options(run))
        opts.push_back(f);
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
    WholeFile gif_file;
    std::string gif_failure;  // why the GIF's bytes could not be written
    bool keep_frames = false; // files come in any order: the GIF is made at the end
    std::map<int, std::vector<unsigned char>> kept; // each index's last frame, compressed
    std::vector<unsigned char> png;                 // the encoded PNG of the frame at hand
    FrameTarget target;                             // where frames are drawn and read
    std::vector<unsigned char> frames[RING];        // read-back pictures
    int index[RING] = {};                           // the result index of each frame
    long produced = 0;                              // frames handed over
    long consumed = 0;                              // frames the writer is done with
    int written = 0;       // pictures in files: PNG files, or GIF frames when there are no PNGs
    bool finished = false; // no more frames will come
    bool failed = false;   // an output could not be written; why says so
    std::string why;       // written by the writer thread alone
    std::mutex m;
    std::condition_variable cv;
};

// Writes the frame in slot into every output; *png_written says whether its PNG file was.
bool write_frame(Output *out, int slot, bool *png_written)
{
    const Options &o = *out->opt;
    const PixelRows pic = frame_rows(out->target, out->frames[slot].data());
    if (o.png_dir) {
        std::string path = std::string(o.png_dir) + "/" + output_name(out->index[slot], ".png");
        std::size_t len = 0;
        if (!encode_png(pic, &out->png, &len, &out->why))
            return false;
        if (!write_whole_file(path, out->png.data(), len, &out->why))
            return false;
        *png_written = true;
    }
    if (o.gif_path && out->keep_frames) {
        // Mostly black: zlib's fastest level shrinks a frame fifty times or more.
        std::vector<unsigned char> &z = out->kept[out->index[slot]];
        const std::size_t raw = out->frames[slot].size();
        uLongf len = compressBound((uLong)raw);
        z.resize(len);
        if (compress2(z.data(), &len, pic.data, (uLong)raw, 1) != Z_OK) {
            out->why = "cannot keep a frame of the GIF: out of memory";
            return false;
        }
        z.resize(len);
    } else if (o.gif_path && !gif_add_frame(&out->gif, pic, &out->why)) {
        // A failed write says more than the encoder's "write failed".
        if (!out->gif_failure.empty())
            out->why = out->gif_failure;
        return false;
    }
    return true;
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
        bool png_written = false;
        bool ok = write_frame(out, slot, &png_written);
        lock.lock();
        ++out->consumed;
        out->written += png_written || (ok && !out->opt->png_dir);
        out->failed = !ok;
        out->cv.notify_all();
        if (!ok)
            return;
    }
}

// The name of an OpenGL error code.
const char *gl_error_name(GLenum e)
{
    switch (e) {
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
    case GL_STACK_OVERFLOW: return "GL_STACK_OVERFLOW";
    case GL_STACK_UNDERFLOW: return "GL_STACK_UNDERFLOW";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
    default: return "an unknown OpenGL error";
    }
}

// Draws file n into the next free frame of the ring. False with the reason in *why when OpenGL
// fails, and false once the writer has failed.
bool render(Output *out, int n, const Mesh &mesh, std::string *why)
{
    if (out->opt->mark) {
        // Measured against the run's first file (or the last that started a new mesh).
        static HealthTrack track;
        static Health health;
        measure_health(&track, mesh, &health);
        draw_mesh_frame(mesh, health.inverted, health.area);
    } else {
        draw_mesh_frame(mesh);
    }
    std::unique_lock<std::mutex> lock(out->m);
    out->cv.wait(lock, [out] { return out->produced - out->consumed < RING || out->failed; });
    if (out->failed)
        return false;
    int slot = (int)(out->produced % RING);
    lock.unlock();
    read_frame(out->target, out->frames[slot].data());
    // A failed draw or read would make a black picture that looks like a real one.
    GLenum e = glGetError();
    if (e != GL_NO_ERROR) {
        *why = std::string("OpenGL failed drawing ") + res_file_name(n) + ": " + gl_error_name(e);
        return false;
    }
    out->index[slot] = n;
    lock.lock();
    ++out->produced;
    out->cv.notify_all();
    return true;
}

// The elements of the range's first file, or MESH_CAPACITY when none can be read.
int first_mesh_elements(const SeriesRun &run)
{
    static Mesh mesh;
    for (int n = run.first; n <= run.last; n += run.every) {
        LoadResult r = load_res(run.dir, n, &mesh);
        if (r.status == LoadStatus::CANNOT_OPEN && r.errnum == ENOENT)
            continue;
        return r.status == LoadStatus::LOADED ? mesh.nele : MESH_CAPACITY;
    }
    return MESH_CAPACITY;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    SeriesRun run;
    run.program = "resrender";
    run.verb = "rendered";
    run.rate_unit = "frames/s";
    int status = parse_options(argc, argv, &opt, &run);
    if (status >= 0)
        return status;
    std::string why;
    keep_heap_between_frames();
    choose_rasteriser_threads(first_mesh_elements(run));
    static Output out; // three frames of up to 64 MiB each, and the GIF's state
    out.opt = &opt;
    // Without marks every pixel is red or black: the red byte alone says which.
    // The pbuffer is not drawn into while a framebuffer object can be.
    if (!open_offscreen(1, 1, &why) ||
        !open_frame_target(opt.w, opt.h, !opt.mark, &out.target, &why)) {
        std::fprintf(stderr, "resrender: %s\n", why.c_str());
        close_offscreen();
        return 1;
    }
    // The outputs only once there is a context to draw them.
    bool ready = (!opt.png_dir || make_output_dir(&run, opt.png_dir)) &&
                 (!opt.gif_path || make_output_dir(&run, folder_of(opt.gif_path)));
    if (ready && opt.gif_path) {
        auto sink = [](const unsigned char *bytes, std::size_t n) {
            return whole_write(&out.gif_file, bytes, n, &out.gif_failure);
        };
        ready = whole_open(&out.gif_file, opt.gif_path, &why) &&
                gif_open(&out.gif, sink, opt.w, opt.h, (100 + opt.fps / 2) / opt.fps, &why);
        if (!ready) {
            whole_abandon(&out.gif_file);
            std::fprintf(stderr, "resrender: %s\n", why.c_str());
        }
    }
    if (!ready) {
        close_offscreen();
        return 1;
    }
    for (auto &f : out.frames)
        f.resize((std::size_t)opt.w * (std::size_t)opt.h *
                 (std::size_t)pixel_bytes(out.target.pixels));

    // The viewer's GL state, projection and view.
    init_gl_state();
    reshape(opt.w, opt.h);
    vs.rot_x = opt.rot_x;
    vs.rot_y = opt.rot_y;
    vs.tx = opt.tx;
    vs.ty = opt.ty;
    vs.tz = opt.tz;

    out.keep_frames = run.follow;
    // The writer leaves the stop signals to this thread, which may be waiting for files.
    sigset_t mask = block_stop_signals();
    std::thread writer(write_frames, &out);
    restore_signals(mask);
    run_series(&run, [&](int n, const Mesh &mesh) {
        bool ok = render(&out, n, mesh, &run.failure);
        std::lock_guard<std::mutex> lock(out.m);
        run.written = out.written;
        return ok;
    });
    {
        std::lock_guard<std::mutex> lock(out.m);
        out.finished = true;
    }
    out.cv.notify_all();
    writer.join();
    close_offscreen();

    run.written = out.written;
    if (out.failed)
        run.failure = out.why;
    bool whole = run.failure.empty() && !run.signal && run.written > 0;
    bool gif_written = false;
    // A follow's frames go into the animation now, in series order.
    std::vector<unsigned char> &frame = out.frames[0];
    const PixelRows pic = frame_rows(out.target, frame.data());
    for (auto k = out.kept.begin(); whole && k != out.kept.end(); ++k) {
        uLongf len = (uLongf)frame.size();
        whole = uncompress(frame.data(), &len, k->second.data(), (uLong)k->second.size()) == Z_OK &&
                gif_add_frame(&out.gif, pic, &run.failure);
        if (!whole && !out.gif_failure.empty())
            run.failure = out.gif_failure;
    }
    if (opt.gif_path && whole) {
        gif_written = gif_close(&out.gif, &run.failure) &&
                      whole_close(&out.gif_file, true, &run.failure) &&
                      whole_rename(&out.gif_file, &run.failure);
        if (!gif_written && !out.gif_failure.empty())
            run.failure = out.gif_failure;
        whole_abandon(&out.gif_file); // the temporary, if the GIF did not make it
    } else if (opt.gif_path) {
        // An animation that stops early is not written: the earlier one, if any, stays.
        gif_abandon(&out.gif);
        whole_abandon(&out.gif_file);
    }
    if (!opt.png_dir && !gif_written)
        run.written = 0; // the frames went nowhere
    std::string where;
    if (opt.png_dir && run.written > 0)
        where = std::string("PNG files in ") + opt.png_dir;
    if (gif_written)
        where += (where.empty() ? "GIF " : ", GIF ") + std::string(opt.gif_path);
    if (where.empty())
        where = "nothing written";
    if (!run.failure.empty())
        where += ", stopped early";
    status = finish_run(&run, where);
    if (run.signal)
        end_by_signal(run.signal);
    return status;
}
