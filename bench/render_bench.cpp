// resrender against its floor and against the per-primitive path, with no display. For the sample
// series and for max-size meshes, at 300x300 and 1920x1080:
// - resrender itself, ms a frame to PNG files;
// - the per-primitive path, kept here alone as the baseline: each file compiled into the
//   viewer's display list (a begin/end pair and a colour per primitive) and replayed, read back,
//   and encoded and written on a second thread, as resrender did before;
// - each stage of resrender's work alone (reading a file, drawing and reading back, encoding and
//   writing a PNG): the slowest is the floor a pipeline of them can reach;
// - the PNG settings tried on these pictures (time and size each) and the GIF encoder.
// Each case runs in a child process of its own, with a fresh context, as resrender has.
#include "bench/bench_support.h"
#include "picture/gif_file.h"
#include "picture/png_file.h"
#include "render/offscreen.h"
#include "render/process_setup.h"
#include "resfile/res_file.h"
#include "tests/support/child.h"
#include "tools/common/whole_file.h"
#include "view/viewer_state.h"

#include <GL/gl.h>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <png.h>
#include <string>
#include <thread>
#include <vector>
#include <zlib.h>

namespace
{

struct Case {
    const char *what;
    const char *series; // folder under the scratch directory
    int nfiles;
    int w, h;
    bool settings; // the PNG settings and the GIF encoder tried too
};

// A stage's time a frame, in ms, the best of three passes over the frames.
template <typename F> double ms_a_frame(int nframes, F fn)
{
    double best = 1e30;
    for (int pass = 0; pass < 3; ++pass) {
        double t0 = now_ms();
        for (int i = 0; i < nframes; ++i)
            fn(i);
        best = std::min(best, (now_ms() - t0) / nframes);
    }
    return best;
}

// The per-primitive path: read, compile and replay the display list, read back on this thread;
// encode and write on a second one, three frames in flight.
double per_primitive_path(const Case &c, const std::string &dir, const std::string &out)
{
    auto mesh = std::make_unique<Mesh>();
    const std::size_t bytes = (std::size_t)c.w * (std::size_t)c.h * 3;
    std::vector<unsigned char> ring[3] = {std::vector<unsigned char>(bytes),
                                          std::vector<unsigned char>(bytes),
                                          std::vector<unsigned char>(bytes)};
    int produced = 0, consumed = 0;
    bool finished = false;
    std::mutex m;
    std::condition_variable cv;
    std::thread writer([&] {
        std::vector<unsigned char> png;
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            cv.wait(lock, [&] { return consumed < produced || finished; });
            if (consumed == produced)
                return;
            int n = consumed;
            lock.unlock();
            std::size_t len = 0;
            (void)encode_png({c.w, c.h, Pixels::RGB, ring[n % 3].data(), -3L * c.w}, &png, &len);
            (void)write_whole_file(out + "/" + res_file_name(n) + ".png", png.data(), len);
            lock.lock();
            ++consumed;
            cv.notify_all();
        }
    });
    double t0 = now_ms();
    for (int n = 0; n < c.nfiles; ++n) {
        load_res(dir.c_str(), n, mesh.get());
        unsigned int id = open_mesh_list();
        compile_mesh(*mesh);
        use_list(id);
        draw_frame();
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return produced - consumed < 3; });
        lock.unlock();
        glReadPixels(0, 0, c.w, c.h, GL_RGB, GL_UNSIGNED_BYTE, ring[n % 3].data());
        lock.lock();
        ++produced;
        cv.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(m);
        finished = true;
    }
    cv.notify_all();
    writer.join();
    return (now_ms() - t0) / c.nfiles;
}

// Everything measured in this process for one case, printed as "key value" lines.
void measure_case(const Case &c, const std::string &top)
{
    const std::string dir = top + "/" + c.series, out = top + "/scratch";
    std::vector<Mesh> meshes((std::size_t)c.nfiles);
    load_res(dir.c_str(), 0, &meshes[0]);
    choose_rasteriser_threads(meshes[0].nele);
    OffscreenContext ctx;
    Status s = ctx.open(c.w, c.h);
    if (!s.ok()) {
        std::printf("error %s\n", s.message().c_str());
        return;
    }
    init_gl_state();
    reshape(c.w, c.h);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // The baseline first, into the pbuffer as before; then the heap as resrender keeps it.
    std::printf("per_primitive %.4f\n", per_primitive_path(c, dir, out));
    keep_heap_between_frames();
    s = ctx.open_frame_target(c.w, c.h, true);
    if (!s.ok()) {
        std::printf("error %s\n", s.message().c_str());
        return;
    }
    double read =
        ms_a_frame(c.nfiles, [&](int n) { load_res(dir.c_str(), n, &meshes[(std::size_t)n]); });
    // The pictures go round a few buffers, as in resrender, so that no stage pays for memory a
    // pipeline would not touch.
    constexpr int KEPT = 8;
    const std::size_t bytes = (std::size_t)c.w * (std::size_t)c.h;
    std::vector<std::vector<unsigned char>> frames(KEPT, std::vector<unsigned char>(bytes));
    const auto frame = [&](int n) {
        return ctx.frame_rows(frames[(std::size_t)(n % KEPT)].data());
    };
    MeshArrays arrays;
    double draw = ms_a_frame(c.nfiles, [&](int n) {
        draw_mesh_frame(meshes[(std::size_t)n], View{}, &arrays);
        ctx.read_frame(frames[(std::size_t)(n % KEPT)].data());
    });
    // The last pass left the last KEPT files' pictures; the encoders take them in turn.
    std::vector<unsigned char> png;
    std::size_t len = 0;
    double encode = ms_a_frame(c.nfiles, [&](int n) {
        (void)encode_png(frame(n), &png, &len);
        (void)write_whole_file(out + "/" + res_file_name(n) + ".png", png.data(), len);
    });
    std::printf("read %.4f\ndraw %.4f\nencode %.4f\n", read, draw, encode);
    if (!c.settings)
        return;
    // The PNG settings tried: time and size, encoding alone.
    const struct {
        const char *name;
        PngSettings s;
    } tried[] = {
        {"zlib 1, runs, unfiltered (chosen)", png_chosen(Pixels::RED)},
        {"zlib 1, default strategy, unfiltered", {1, Z_DEFAULT_STRATEGY, PNG_FILTER_NONE}},
        {"zlib 3, default strategy, unfiltered", {3, Z_DEFAULT_STRATEGY, PNG_FILTER_NONE}},
        {"zlib 6, default strategy, all filters", {6, Z_DEFAULT_STRATEGY, PNG_ALL_FILTERS}},
        {"zlib 1, runs, sub filter", {1, Z_RLE, PNG_FILTER_SUB}},
        {"zlib 9, default strategy, unfiltered", {9, Z_DEFAULT_STRATEGY, PNG_FILTER_NONE}},
    };
    for (const auto &t : tried) {
        std::size_t total = 0;
        double ms = ms_a_frame(c.nfiles, [&](int n) {
            (void)encode_png(frame(n), &png, &len, t.s);
            total += len;
        });
        std::printf("png %.4f %.1f %s\n", ms, (double)total / 3 / c.nfiles / 1024, t.name);
    }
    // The same pictures as RGB, as they were stored before.
    std::vector<std::vector<unsigned char>> rgb(KEPT, std::vector<unsigned char>(3 * bytes));
    for (std::size_t k = 0; k < KEPT; ++k)
        for (std::size_t i = 0; i < bytes; ++i)
            rgb[k][3 * i] = frames[k][i];
    std::size_t total = 0;
    double ms = ms_a_frame(c.nfiles, [&](int n) {
        const std::size_t k = (std::size_t)(n % KEPT);
        (void)encode_png({c.w, c.h, Pixels::RGB, rgb[k].data(), 3L * c.w}, &png, &len);
        total += len;
    });
    std::printf("png %.4f %.1f %s\n", ms, (double)total / 3 / c.nfiles / 1024,
                "as RGB, zlib 1, default strategy, unfiltered (before)");
    std::size_t gif_bytes = 0;
    double gif = ms_a_frame(1, [&](int) {
        GifWriter g;
        (void)g.open([&](const unsigned char *, std::size_t n) { return (gif_bytes += n) > 0; },
                     c.w, c.h, 4);
        for (int n = 0; n < c.nfiles; ++n)
            (void)g.add_frame(frame(n));
        (void)g.close();
    });
    std::printf("gif %.4f %.1f\n", gif / c.nfiles, (double)gif_bytes / 3 / c.nfiles / 1024);
}

double value(const std::string &out, const std::string &key)
{
    std::size_t at = out.find("\n" + key + " ");
    return at == std::string::npos ? -1 : std::atof(out.c_str() + at + key.size() + 2);
}

} // namespace

int main()
{
    TempDir dir;
    for (const auto &args : {std::vector<std::string>{SAMPLE_SERIES_EXE, dir.path + "/sample"},
                             std::vector<std::string>{SAMPLE_SERIES_EXE, "--max-size", "--last",
                                                      "100", dir.path + "/max"}}) {
        Outcome o = run_program(args, dir.path);
        if (o.status != 0) {
            std::fprintf(stderr, "render_bench: cannot write a series: %s", o.err.c_str());
            return 1;
        }
    }
    std::filesystem::create_directories(dir.path + "/scratch");
    const Case cases[] = {
        {"sample series, 300x300", "sample", 1011, 300, 300, true},
        {"max-size meshes, 300x300", "max", 101, 300, 300, true},
        {"sample series, 1920x1080", "sample", 201, 1920, 1080, true},
        {"max-size meshes, 1920x1080", "max", 101, 1920, 1080, true},
        {"max-size meshes, 4096x4096", "max", 21, 4096, 4096, false},
    };
    for (const auto &c : cases) {
        // Mesa's threads chosen as resrender chooses them.
        std::vector<std::string> env = {"DISPLAY", "LP_NUM_THREADS"};
        Child child;
        if (!start_child(
                &child, dir.path, [&] { measure_case(c, dir.path); }, env) ||
            !wait_exit(&child, 600000) || child.status != 0) {
            std::fprintf(stderr, "render_bench: %s failed\n%s%s", c.what, child.out.c_str(),
                         child.err.c_str());
            return 1;
        }
        const std::string out = "\n" + child.out;
        // resrender itself, best of three runs of the whole range and of its first file alone:
        // the difference is what a frame costs once the program has started.
        double whole = 1e30, start = 1e30;
        for (int run = 0; run < 6; ++run) {
            const int last = run % 2 ? 0 : c.nfiles - 1;
            double t0 = now_ms();
            Outcome o = run_program({RESRENDER_EXE, "--last", std::to_string(last), "--size",
                                     std::to_string(c.w) + "x" + std::to_string(c.h), "--png",
                                     "scratch", c.series},
                                    dir.path, {"DISPLAY"}, 600000);
            if (o.status != 0) {
                std::fprintf(stderr, "render_bench: resrender failed: %s", o.err.c_str());
                return 1;
            }
            double ms = now_ms() - t0;
            if (last == 0)
                start = std::min(start, ms);
            else
                whole = std::min(whole, ms);
        }
        const double frame = (whole - start) / (c.nfiles - 1);
        whole /= c.nfiles;
        double read = value(out, "read"), draw = value(out, "draw"), encode = value(out, "encode"),
               per_primitive = value(out, "per_primitive");
        double floor = std::max({read, draw, encode});
        const char *slowest = floor == encode ? "encoding and writing the PNG"
                              : floor == draw ? "drawing and reading back"
                                              : "reading the file";
        auto line = [&c](const std::string &what, double v, const char *unit) {
            print_figure((std::string(c.what) + ": " + what).c_str(), v, unit);
        };
        line("resrender to PNG, the whole run", whole, "ms/f");
        line("resrender to PNG, a frame past the first", frame, "ms/f");
        line("per-primitive path (baseline)", per_primitive, "ms/f");
        line("resrender / per-primitive, the whole run", whole / per_primitive, "x");
        line("resrender / per-primitive, a frame past the first", frame / per_primitive, "x");
        line("stage: read a file", read, "ms/f");
        line("stage: draw and read back", draw, "ms/f");
        line("stage: encode and write a PNG", encode, "ms/f");
        line(std::string("floor (") + slowest + ")", floor, "ms/f");
        line("resrender, a frame past the first / floor (goal: 1.3 at most)", frame / floor, "x");
        for (std::size_t at = out.find("\npng "); at != std::string::npos;
             at = out.find("\npng ", at + 1)) {
            double ms = 0, kib = 0;
            char name[96] = "";
            std::sscanf(out.c_str() + at + 5, "%lf %lf %95[^\n]", &ms, &kib, name);
            std::printf("%s: PNG %s: %.3f ms, %.1f KiB a picture\n", c.what, name, ms, kib);
        }
        double gif_ms = 0, gif_kib = 0;
        if (c.settings) {
            std::sscanf(out.c_str() + out.find("\ngif ") + 5, "%lf %lf", &gif_ms, &gif_kib);
            std::printf("%s: GIF frame: %.3f ms, %.1f KiB a frame\n", c.what, gif_ms, gif_kib);
        }
    }
    return 0;
}
