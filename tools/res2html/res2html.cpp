// res2html: a result series as one web page that opens anywhere, with no request of any kind:
// each file's mesh drawn as resview draws it, turned, moved and stepped through with resview's
// keys, its faults marked. Reads through the shared load path and measures health as rescheck
// does; the page is written whole, or the earlier one stays.
#include "resfile/series_health.h"
#include "tools/common/last_contents.h"
#include "tools/common/series_time.h"
#include "tools/common/series_tool.h"
#include "tools/common/shared_usage.h"
#include "tools/common/stop_signals.h"
#include "tools/common/view_choice.h"
#include "tools/common/whole_file.h"
#include "tools/res2html/page_encoder.h"
#include "tools/res2html/page_writer.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace
{

std::string usage()
{
    return std::string(
               "usage: res2html [OPTIONS] [DIR]\n"
               "Writes the result series in DIR (default: the working directory) as one web page "
               "that\n"
               "opens in any browser, with no request of any kind: drag or the arrow keys turn "
               "the\n"
               "mesh, the viewer's letter keys move it, N and B step through the files.\n"
               "  -o FILE        the page (default series.html)\n") +
           RANGE_USAGE +
           "  --size WxH     the canvas in CSS pixels, 1..4096 each (default 300x300)\n"
           "  --fps N        playing speed, 1..60 files a second (default 25)\n"
           "  --dt SECONDS   time between files: file n is at n x SECONDS (default: n, no unit)\n" +
           VIEW_USAGE +
           "  --fit          --centre, --tx, --ty and --tz chosen so that the files fill the "
           "canvas;\n"
           "                 the view is printed as options for a later run\n"
           "  --mark         inverted and degenerate elements shown from the start\n"
           "  --title TEXT   the page's title and heading (default: the folder's name)\n"
           "  --follow       then go on taking files of the range as they are written; the page "
           "is\n"
           "                 written when the follow ends (SIGINT, SIGTERM)\n" +
           POLL_IDLE_USAGE + END_OF_OPTIONS_USAGE +
           "A broken file is named, and left out of the page; a failed or a stopped run writes no "
           "page:\n"
           "an earlier one stays as it was.\n"
           "Exit status: 0 the page written, 1 a broken file, none present or the page not "
           "written,\n"
           "2 usage error, 128 + N when stopped by signal N.\n";
}

constexpr int SIZE_MAX_PX = 4096; // largest canvas side, CSS pixels
constexpr int FPS_MAX = 60;

struct Options {
    const char *out = "series.html";
    PageSettings page;
    ViewChoice view;
    TimeStep dt;
    bool dt_given = false; // times in seconds, else in files
    const char *title = nullptr;
};

std::vector<Option> own_options(Options *o)
{
    std::vector<Option> opts = {
        path_option("-o", "a file name", &o->out),
        size_option("--size", SIZE_MAX_PX, &o->page.w, &o->page.h),
        int_option("--fps", 1, FPS_MAX, &o->page.fps),
        noted(dt_option(&o->dt), &o->dt_given),
        flag_option("--mark", &o->page.mark),
        {"--title", Takes::TEXT, "a title",
         [o](const char *v) { return (o->title = v) != nullptr; }},
    };
    for (auto &v : view_options(&o->view))
        opts.push_back(v);
    return opts;
}

// The name of the series' folder, for the page's title.
std::string folder_name(const char *dir)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(dir ? dir : ".", ec).lexically_normal();
    if (p.filename().empty() && p.has_parent_path())
        p = p.parent_path();
    std::string name = p.filename().string();
    return name.empty() ? "results" : name;
}

// The files of a run on their way into the page: taken in series order at once, or, when a
// follow hands them on in any order and again, kept and taken in order at the end. Where they lie
// is gathered for --fit, and the files the start view leaves out are named.
class PageData
{
  public:
    PageData(const char *dir, const ViewChoice &view) : health_(dir), view_(view) {}

    Status take(int n, const Mesh &m, bool follow)
    {
        if (follow) {
            last_.keep(n, m);
            return Status();
        }
        return add(n, m);
    }

    // The page's data, every file in it.
    Status finish()
    {
        Status s = last_.replay([this](int n, const Mesh &m) { return add(n, m); });
        return s.ok() ? encoder_.finish() : s;
    }

    const PageEncoder &encoder() const
    {
        return encoder_;
    }
    // The box of every node in the page.
    const Extent &extent() const
    {
        return extent_;
    }
    const OutsideFiles &outside() const
    {
        return outside_;
    }

  private:
    Status add(int n, const Mesh &m)
    {
        extent_.add(m);
        if (!view_.fit)
            outside_.look(n, m, view_.view);
        return encoder_.add(n, m, health_.measure(n, m));
    }

    SeriesHealth health_;
    const ViewChoice &view_;
    PageEncoder encoder_;
    Extent extent_;
    OutsideFiles outside_;
    LastContents last_;
};

// Writes the page, once every file of the range is in it; its size into *bytes. The broken files
// are named in its notes.
Status write_page(Options *opt, const PageData &data, const SeriesLoop &loop, std::size_t *bytes)
{
    for (int n : data.encoder().files())
        opt->page.times.push_back(opt->dt.time_of(n));
    opt->page.time_unit = opt->dt_given ? "s" : "";
    for (int n = 0; n <= FILE_INDEX_MAX; ++n)
        if (loop.state(n) == FileState::BROKEN || loop.state(n) == FileState::UNREADABLE)
            opt->page.notes.push_back(loop.fault(n));
    opt->page.view = opt->view.view;
    const std::string html = page_html(opt->page, data.encoder());
    Status s = open_output_file(opt->out);
    *bytes = html.size();
    return s.ok() ? write_whole_file(opt->out, html.data(), html.size()) : s;
}

int res2html(int argc, char **argv)
{
    Options opt;
    SeriesTool tool({"res2html", "in the page"});
    if (!tool.start(argc, argv, own_options(&opt), usage(),
                    [&opt](const char *) { return view_conflict(opt.view); }))
        return tool.exit_status();
    opt.page.title = opt.title ? opt.title : folder_name(tool.dir());
    PageData data(tool.dir(), opt.view);
    tool.run([&](int n, const Mesh &mesh) { return data.take(n, mesh, tool.following()); });
    std::size_t bytes = 0;
    if (tool.whole()) {
        // The view is fitted to the files the page holds, once they are all there.
        Status s = data.finish();
        if (s.ok())
            s = apply_fit(data.extent(), &opt.view);
        if (s.ok())
            s = write_page(&opt, data, tool.loop(), &bytes);
        tool.fail(s);
    }
    const bool written = bytes > 0 && tool.failure().empty();
    for (int n : written ? data.encoder().files() : std::vector<int>{})
        tool.wrote(n);
    const std::string outside = data.outside().note();
    if (written && !outside.empty())
        tool.report().fault(outside);
    char size[32];
    std::snprintf(size, sizeof size, " (%.1f MB)", (double)bytes / 1e6);
    const std::string where =
        written ? std::string(opt.out) + size : "nothing written; an earlier page stays as it was";
    return tool.end(where);
}

} // namespace

int main(int argc, char **argv)
{
    return exit_status_or_signal(res2html(argc, argv));
}
