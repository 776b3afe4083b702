// resrender: renders files of a result series exactly as resview shows them, on a machine with no
// display, into one PNG per file and/or one looping animated GIF. Reads through the shared load
// path and draws with the viewer's own functions; a second thread encodes each picture while the
// next one is drawn.
#include "draw.h"
#include "fit_view.h"
#include "frame_writer.h"
#include "offscreen.h"
#include "process_setup.h"
#include "series_health.h"
#include "series_tool.h"
#include "shared_usage.h"

#include <GL/gl.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace
{

std::string usage()
{
    return std::string(
               "usage: resrender [OPTIONS] [DIR]\n"
               "Renders the result series in DIR (default: the working directory) as resview "
               "shows it,\n"
               "with no display.\n"
               "  --png OUTDIR   one PNG per file: res0001.inp -> OUTDIR/res0001.png (OUTDIR made "
               "if missing)\n"
               "  --gif FILE     one looping animated GIF of the rendered files in series order "
               "(its folder\n"
               "                 made if missing)\n"
               "  --fps N        frames per second of the GIF, 1..50 (default 25)\n") +
           RANGE_USAGE +
           "  --rot-x DEG, --rot-y DEG, --tx X, --ty Y, --tz Z\n"
           "                 the view as the viewer holds it (defaults 0, 0, 0, 0, -15)\n"
           "  --size WxH     picture size, 1..4096 each (default 300x300)\n"
           "  --fit          --tx, --ty and --tz chosen so that the range fills the picture; the "
           "view\n"
           "                 is printed as options for a later run\n"
           "  --mark         inverted elements filled and degenerate ones drawn in yellow\n"
           "  --follow       then go on rendering files of the range as they are written: each "
           "PNG as\n"
           "                 its file completes, the GIF when the follow ends (SIGINT, SIGTERM)\n" +
           POLL_IDLE_USAGE + END_OF_OPTIONS_USAGE +
           "At least one of --png and --gif; a name beginning with '-' is given as --png=NAME.\n"
           "Exit status: 0 every present file of the range rendered, 1 a broken file, none "
           "present,\n"
           "an output not written or no OpenGL context, 2 usage error, 128 + N when stopped by\n"
           "signal N (SIGINT, SIGTERM, SIGHUP: the file at hand is finished, the GIF not "
           "written).\n";
}

constexpr int SIZE_MAX_PX = 4096; // largest picture side, pixels
constexpr int FPS_MAX = 50;       // GIF delays are whole hundredths; viewers slow shorter ones

struct Options {
    PictureOutputs out;
    ViewChoice view;
    int w = 300; // pixels
    int h = 300;
    bool mark = false; // yellow where the mesh goes wrong
};

std::vector<Option> own_options(Options *o)
{
    std::vector<Option> opts = {
        path_option("--png", "a folder", &o->out.png_dir),
        path_option("--gif", "a file name", &o->out.gif_path),
        int_option("--fps", 1, FPS_MAX, &o->out.fps),
        size_option("--size", SIZE_MAX_PX, &o->w, &o->h),
        flag_option("--mark", &o->mark),
    };
    for (auto &v : view_options(&o->view))
        opts.push_back(v);
    return opts;
}

// What is wrong with the options taken together.
std::string check_options(const Options &o)
{
    if (!o.out.png_dir && !o.out.gif_path)
        return "nothing to write: give --png, --gif or both";
    return view_conflict(o.view);
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

// Draws each file into the context and hands its picture to the writer.
class Renderer
{
  public:
    Renderer(const Options &opt, const char *dir, const OffscreenContext &ctx, FrameWriter *writer)
        : opt_(opt), ctx_(ctx), writer_(writer), health_(dir)
    {
    }

    // Draws file n and reads its picture back into the next free frame.
    Status render(int n, const Mesh &mesh)
    {
        extents_[(std::size_t)n] = Extent{};
        extents_[(std::size_t)n].add(mesh);
        if (opt_.mark) {
            // Measured as the whole series measures it.
            const Health &h = health_.measure(n, mesh);
            const Marks marks{h.inverted, h.area};
            draw_mesh_frame(mesh, opt_.view.view, &arrays_, &marks);
        } else {
            draw_mesh_frame(mesh, opt_.view.view, &arrays_);
        }
        unsigned char *frame = nullptr;
        Status s = writer_->claim(&frame);
        if (!s.ok())
            return s;
        ctx_.read_frame(frame);
        // A failed draw or read would make a black picture that looks like a real one.
        GLenum e = glGetError();
        if (e != GL_NO_ERROR)
            return Status::error(std::string("OpenGL failed drawing ") + res_file_name(n) + ": " +
                                 gl_error_name(e));
        writer_->hand_over(n);
        return Status();
    }

    // Where file n's mesh lay, as last drawn.
    const Extent &extent(int n) const
    {
        return extents_[(std::size_t)n];
    }

  private:
    const Options &opt_;
    const OffscreenContext &ctx_;
    FrameWriter *writer_;
    MeshArrays arrays_;
    SeriesHealth health_;
    std::vector<Extent> extents_ = std::vector<Extent>(FILE_INDEX_MAX + 1);
};

// The elements of the range's first file, or MESH_CAPACITY when none can be read.
int first_mesh_elements(const SeriesLoop &loop)
{
    auto mesh = std::make_unique<Mesh>();
    const Range &r = loop.range();
    for (int n = r.first; n <= r.last; n += r.every) {
        LoadResult l = load_res(loop.dir(), n, mesh.get());
        if (l.status == LoadStatus::CANNOT_OPEN && l.errnum == ENOENT)
            continue;
        return l.status == LoadStatus::LOADED ? mesh->nele : MESH_CAPACITY;
    }
    return MESH_CAPACITY;
}

// The context, the frames' target and the outputs, in that order: an output is made only once
// there is a context to draw it.
Status set_up(const Options &opt, OffscreenContext *ctx, FrameWriter *writer)
{
    // Without marks every pixel is red or black: the red byte alone says which. The pbuffer is not
    // drawn into while a framebuffer object can be.
    Status s = ctx->open(1, 1);
    if (s.ok())
        s = ctx->open_frame_target(opt.w, opt.h, !opt.mark);
    if (s.ok())
        s = writer->open(ctx->frame_rows(nullptr));
    if (s.ok()) {
        // The viewer's GL state and projection.
        init_gl_state();
        reshape(opt.w, opt.h);
    }
    return s;
}

// Where the run's outputs went, for the summary.
std::string where(const Options &opt, const SeriesTool &tool, const FrameWriter &writer,
                  int written)
{
    std::string w;
    if (opt.out.png_dir && written > 0)
        w = std::string("PNG files in ") + opt.out.png_dir;
    if (writer.gif_written())
        w += (w.empty() ? "GIF " : ", GIF ") + std::string(opt.out.gif_path);
    if (w.empty())
        w = "nothing written";
    if (!tool.failure().empty())
        w += ", stopped early";
    return w;
}

// Says, once a run, which files drew nothing inside the picture, and why.
void report_blank(std::vector<int> blank, const Renderer &renderer, RunReport *report)
{
    std::sort(blank.begin(), blank.end());
    blank.erase(std::unique(blank.begin(), blank.end()), blank.end());
    if (blank.empty())
        return;
    const int n = blank.front();
    const Extent &e = renderer.extent(n);
    std::string files = res_file_name(n);
    if (blank.size() > 1)
        files += " and " + std::to_string(blank.size() - 1) + " more file" +
                 (blank.size() > 2 ? "s" : "");
    char why[256];
    if (!e.any)
        std::snprintf(why, sizeof why, "the mesh has no nodes");
    else
        std::snprintf(why, sizeof why,
                      "the mesh (x %.6g..%.6g, y %.6g..%.6g%s) lies outside the picture; try --fit",
                      e.xmin, e.xmax, e.ymin, e.ymax,
                      blank.size() > 1 ? (std::string(" in ") + res_file_name(n)).c_str() : "");
    report->fault(files + ": " + why);
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    SeriesTool tool({"resrender", "rendered", "frames/s"});
    if (!tool.start(argc, argv, own_options(&opt), usage(),
                    [&opt](const char *) { return check_options(opt); }))
        return tool.exit_status();
    Status fit = apply_fit(tool.dir(), tool.loop().range(), &opt.view);
    if (!fit.ok()) {
        tool.report().note(fit.message());
        return 1;
    }
    keep_heap_between_frames();
    choose_rasteriser_threads(first_mesh_elements(tool.loop()));
    opt.out.keep_frames = tool.following();
    OffscreenContext ctx;
    FrameWriter writer(opt.out);
    Status s = set_up(opt, &ctx, &writer);
    if (!s.ok()) {
        tool.report().note(s.message());
        return 1;
    }
    Renderer renderer(opt, tool.dir(), ctx, &writer);
    tool.run([&](int n, const Mesh &mesh) {
        Status r = renderer.render(n, mesh);
        tool.report().set_written(writer.written());
        return r;
    });
    tool.fail(writer.close());
    tool.report().set_written(writer.written());
    if (opt.out.gif_path && tool.whole())
        tool.fail(writer.commit_gif());
    int written = opt.out.png_dir || writer.gif_written() ? writer.written() : 0;
    tool.report().set_written(written);
    report_blank(writer.blank(), renderer, &tool.report());
    return tool.finish(where(opt, tool, writer, written));
}
