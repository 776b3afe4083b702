// res2html: a result series as one web page that opens anywhere, with no request of any kind:
// each file's mesh drawn as resview draws it, turned, moved and stepped through with resview's
// keys, its faults marked. Reads through the shared load path and measures health as rescheck
// does; the page is written whole, or the earlier one stays.
#include "fit_view.h"
#include "page_encoder.h"
#include "page_writer.h"
#include "series_health.h"
#include "series_time.h"
#include "series_tool.h"
#include "shared_usage.h"
#include "temporaries.h"
#include "whole_file.h"

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
           "  --dt SECONDS   time between files (default 1): file n is at n x SECONDS\n"
           "  --rot-x DEG, --rot-y DEG, --tx X, --ty Y, --tz Z\n"
           "                 the start view, as the viewer holds it (defaults 0, 0, 0, 0, -15)\n"
           "  --fit          --tx, --ty and --tz chosen so that the range fills the canvas; the "
           "view\n"
           "                 is printed as options for a later run\n"
           "  --mark         inverted and degenerate elements shown from the start\n"
           "  --title TEXT   the page's title and heading (default: the folder's name)\n"
           "  --follow       then go on taking files of the range as they are written; the page "
           "is\n"
           "                 written when the follow ends (SIGINT, SIGTERM)\n" +
           POLL_IDLE_USAGE + END_OF_OPTIONS_USAGE +
           "A broken file, a failed or a stopped run writes no page: an earlier one stays as it "
           "was.\n"
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
    const char *title = nullptr;
};

std::vector<Option> own_options(Options *o)
{
    std::vector<Option> opts = {
        path_option("-o", "a file name", &o->out),
        size_option("--size", SIZE_MAX_PX, &o->page.w, &o->page.h),
        int_option("--fps", 1, FPS_MAX, &o->page.fps),
        dt_option(&o->dt),
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
// follow hands them on in any order and again, kept and taken in order at the end.
class PageData
{
  public:
    explicit PageData(const char *dir) : health_(dir) {}

    Status take(int n, const Mesh &m, bool follow)
    {
        if (!follow)
            return encoder_.add(n, m, health_.measure(n, m));
        auto &kept = kept_[n];
        kept = std::make_unique<Mesh>(m);
        return Status();
    }

    // The page's data, every file in it.
    Status finish()
    {
        Status s;
        for (auto k = kept_.begin(); s.ok() && k != kept_.end(); ++k)
            s = encoder_.add(k->first, *k->second, health_.measure(k->first, *k->second));
        return s.ok() ? encoder_.finish() : s;
    }

    const PageEncoder &encoder() const
    {
        return encoder_;
    }

  private:
    SeriesHealth health_;
    PageEncoder encoder_;
    std::map<int, std::unique_ptr<Mesh>> kept_;
};

// Writes the page, once every file of the range is in it; its size into *bytes.
Status write_page(Options *opt, const PageData &data, std::size_t *bytes)
{
    for (int n : data.encoder().files())
        opt->page.times.push_back(opt->dt.time_of(n));
    opt->page.view = opt->view.view;
    const std::string html = page_html(opt->page, data.encoder());
    remove_stale_temporaries_of(opt->out);
    *bytes = html.size();
    return write_whole_file(opt->out, html.data(), html.size());
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    SeriesTool tool({"res2html", "in the page"});
    if (!tool.start(argc, argv, own_options(&opt), usage(),
                    [&opt](const char *) { return view_conflict(opt.view); }))
        return tool.exit_status();
    opt.page.title = opt.title ? opt.title : folder_name(tool.dir());
    Status fit = apply_fit(tool.dir(), tool.loop().range(), &opt.view);
    if (!fit.ok()) {
        tool.report().note(fit.message());
        return 1;
    }
    PageData data(tool.dir());
    tool.run([&](int n, const Mesh &mesh) {
        tool.report().set_written(tool.report().written() + 1);
        return data.take(n, mesh, tool.following());
    });
    std::size_t bytes = 0;
    if (tool.whole() && tool.loop().broken() == 0) {
        Status s = data.finish();
        if (s.ok())
            s = write_page(&opt, data, &bytes);
        tool.fail(s);
    }
    const bool written = bytes > 0 && tool.failure().empty();
    tool.report().set_written(written ? (int)data.encoder().files().size() : 0);
    char size[32];
    std::snprintf(size, sizeof size, " (%.1f MB)", (double)bytes / 1e6);
    const std::string where =
        written ? std::string(opt.out) + size : "nothing written; an earlier page stays as it was";
    return tool.finish(where);
}
