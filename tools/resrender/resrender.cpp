// resrender: renders files of a result series exactly as resview shows them, on a machine with no
// display, into one PNG per file and/or one looping animated GIF. Reads through the shared load
// path and draws with the viewer's own functions; a second thread encodes each picture while the
// next one is drawn.
#include "render/offscreen.h"
#include "render/process_setup.h"
#include "resfile/series_health.h"
#include "tools/common/series_tool.h"
#include "tools/common/shared_usage.h"
#include "tools/common/stop_signals.h"
#include "tools/common/view_choice.h"
#include "tools/resrender/frame_writer.h"
#include "view/draw.h"

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
           RANGE_USAGE + VIEW_USAGE +
           "  --size WxH     picture size, 1..4096 each (default 300x300)\n" +
           "  --fit          --centre, --tx, --ty and --tz chosen so that the range fills the "
           "picture;\n"
           "                 the view is printed as options for a later run\n" +
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
    // fitted: the view was chosen before the run; otherwise --fit chooses it by the first file.
    Renderer(Options *opt, SeriesTool *tool, bool fitted, const OffscreenContext &ctx,
             FrameWriter *writer)
        : opt_(opt), tool_(*tool), ctx_(ctx), writer_(writer), health_(tool->dir()), fitted_(fitted)
    {
    }

    // Draws file n and reads its picture back into the next free frame.
    Status render(int n, const Mesh &mesh)
    {
        Status s = frame(n, mesh);
        if (!s.ok())
            return s;
        const View &view = opt_->view.view;
        if (opt_->mark) {
            // Measured as the whole series measures it.
            const Health &h = health_.measure(n, mesh);
            const Marks marks{h.inverted, h.area};
            draw_mesh_frame(mesh, view, &arrays_, &marks);
        } else {
            draw_mesh_frame(mesh, view, &arrays_);
        }
        unsigned char *frame = nullptr;
        s = writer_->claim(&frame);
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

    // The files that lay mostly outside the picture, as one line; "" for none.
    std::string outside_note() const
    {
        return outside_.note();
    }

  private:
    // Chooses the view when a follow began before any file, and names what the view leaves out:
    // without --fit, the files mostly outside; with it, while following, the first file that
    // runs out of the view chosen from the files before it.
    Status frame(int n, const Mesh &mesh)
    {
        ViewChoice &choice = opt_->view;
        if (choice.fit && !fitted_) {
            Extent box;
            box.add(mesh);
            Status s = apply_fit(box, &choice);
            if (!s.ok())
                return s;
            fitted_ = true;
        }
        if (!choice.fit) {
            outside_.look(n, mesh, choice.view);
        } else if (tool_.following() && !left_named_ && share_inside(mesh, choice.view) < 1) {
            Extent box;
            box.add(mesh);
            tool_.report().fault(std::string(res_file_name(n)) + ": " + box_text(box) +
                                 " runs out of the view that --fit chose at the start; a run "
                                 "with --fit over the files now present frames them all");
            left_named_ = true;
        }
        return Status();
    }

    Options *opt_;
    SeriesTool &tool_;
    const OffscreenContext &ctx_;
    FrameWriter *writer_;
    MeshArrays arrays_;
    SeriesHealth health_;
    OutsideFiles outside_;
    bool fitted_;             // --fit has chosen the view
    bool left_named_ = false; // a file that left the fitted view was named
};

// The elements of the range's first file, or MESH_CAPACITY when none can be read.
int first_mesh_elements(const SeriesLoop &loop)
{
    auto mesh = std::make_unique<Mesh>();
    const Range &r = loop.range();
    for (int n = r.first; n <= r.last; n += r.every) {
        LoadResult l = load_res(loop.dir(), n, mesh.get());
        if (l.status == LoadStatus::MISSING)
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
std::string where(const Options &opt, SeriesTool &tool, const FrameWriter &writer)
{
    std::string w;
    if (opt.out.png_dir && tool.report().written() > 0)
        w = std::string("PNG files in ") + opt.out.png_dir;
    if (writer.gif_written())
        w += (w.empty() ? "GIF " : ", GIF ") + std::string(opt.out.gif_path);
    if (w.empty())
        w = "nothing written";
    if (!tool.failure().empty())
        w += ", stopped early";
    return w;
}

int resrender(int argc, char **argv)
{
    Options opt;
    SeriesTool tool({"resrender", "rendered", "frames/s"});
    if (!tool.start(argc, argv, own_options(&opt), usage(),
                    [&opt](const char *) { return check_options(opt); }))
        return tool.exit_status();
    // A follow that starts before any file frames the first one that comes.
    const Extent box = opt.view.fit ? range_extent(tool.dir(), tool.loop().range()) : Extent{};
    const bool fit_now = opt.view.fit && (box.any || !tool.following());
    Status fit = fit_now ? apply_fit(box, &opt.view) : Status();
    if (!fit.ok()) {
        tool.report().note(fit.message());
        return 1;
    }
    keep_heap_between_frames();
    choose_rasteriser_threads(first_mesh_elements(tool.loop()));
    opt.out.keep_frames = tool.following();
    OffscreenContext ctx;
    FrameWriter writer(opt.out, [&tool](int n) { tool.wrote(n); });
    Status s = set_up(opt, &ctx, &writer);
    if (!s.ok()) {
        tool.report().note(s.message());
        return 1;
    }
    Renderer renderer(&opt, &tool, fit_now, ctx, &writer);
    tool.run([&](int n, const Mesh &mesh) { return renderer.render(n, mesh); });
    tool.fail(writer.close());
    if (opt.out.gif_path && tool.whole())
        tool.fail(writer.commit_gif());
    if (opt.out.gif_path && !writer.gif_written()) {
        Status dropped = writer.drop_gif();
        if (!dropped.ok())
            tool.report().note("the GIF " + std::string(opt.out.gif_path) + " is not written; " +
                               dropped.message());
        tool.fail(dropped);
    }
    // Without PNG files the pictures are written only with the GIF.
    if (!opt.out.png_dir && !writer.gif_written())
        tool.wrote_none();
    const std::string outside = renderer.outside_note();
    if (!outside.empty())
        tool.report().fault(outside);
    return tool.end(where(opt, tool, writer));
}

} // namespace

int main(int argc, char **argv)
{
    return exit_status_or_signal(resrender(argc, argv));
}
