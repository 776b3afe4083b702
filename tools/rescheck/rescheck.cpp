// rescheck: checks a result series before it is viewed. Reads every file of the series that
// exists with the viewer's own reader and reports broken files, the present and missing ranges,
// how far B and N reach from file 1, a summary, and the series' health: where elements turn
// inside out or collapse, the worst shaped element and the largest step of a node.
#include "resfile/res_file.h"
#include "resfile/series_health.h"
#include "tools/common/last_contents.h"
#include "tools/common/series_tool.h"
#include "tools/common/shared_usage.h"
#include "tools/common/stop_signals.h"
#include "tools/common/whole_file.h"
#include "tools/rescheck/check_report.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace
{

std::string usage()
{
    return std::string("usage: rescheck [OPTIONS] [DIR]\n"
                       "Checks the result series res0000.inp .. res01010.inp in DIR (default: the "
                       "working directory).\n") +
           RANGE_USAGE +
           "  --table FILE   one CSV row per present file: counts, inverted and degenerate "
           "elements,\n"
           "                 worst quality, largest displacement, extent\n"
           "  --verbose      a line for each file with a finding, none collapsed\n"
           "  --follow       then go on checking files of the range as they are written: a line "
           "for\n"
           "                 each as it completes, the report when the follow ends (SIGINT, "
           "SIGTERM)\n" +
           POLL_IDLE_USAGE + END_OF_OPTIONS_USAGE +
           "Exit status: 0 all present files well formed and file 1 present, 1 a file broken, "
           "file 1\n"
           "missing, DIR unreadable or the table not written, 2 usage error, 3 all well formed but "
           "an\n"
           "element inverted or degenerate, 128 + N when stopped by signal N.\n";
}

// "1.25" for 1.25: the shortest text that reads back as the same double.
std::string number(double v)
{
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// "(1.25, -0.4)", to six digits.
std::string place(double x, double y)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "(%.6g, %.6g)", x, y);
    return buf;
}

// The files of a run measured one by one as the series measures them, and what they show.
class Checker
{
  public:
    explicit Checker(const char *dir) : health_(dir) {}

    // Measures file n and notes what it shows; its table row too.
    const FileFindings &examine(int n, const Mesh &m);
    RunFindings &found()
    {
        return found_;
    }
    const std::string &row(int n) const
    {
        return rows_[(std::size_t)n];
    }

  private:
    void note_worst(int n, const Mesh &m, const Health &h);
    static std::string table_row(int n, const Mesh &m, const Health &h, const Extent &box);

    SeriesHealth health_;
    RunFindings found_;
    std::vector<std::string> rows_ = std::vector<std::string>(FILE_INDEX_MAX + 1);
};

const FileFindings &Checker::examine(int n, const Mesh &m)
{
    const Health &h = health_.measure(n, m);
    FileFindings f;
    f.n = n;
    f.new_mesh = health_.new_mesh();
    f.np = m.np;
    f.nele = m.nele;
    f.reference = health_.reference_index();
    f.ninverted = h.ninverted;
    f.first_inverted = h.first_inverted;
    f.ndegenerate = h.ndegenerate;
    f.first_degenerate = h.first_degenerate;
    double x = 0, y = 0;
    if (h.ninverted > 0) {
        element_centroid(m, h.first_inverted, &x, &y);
        f.inverted_at = place(x, y);
    }
    if (h.ndegenerate > 0) {
        element_centroid(m, h.first_degenerate, &x, &y);
        f.degenerate_at = place(x, y);
    }
    found_.max_np = m.np > found_.max_np ? m.np : found_.max_np;
    found_.max_nele = m.nele > found_.max_nele ? m.nele : found_.max_nele;
    Extent box;
    box.add(m);
    found_.extent.add(box);
    note_worst(n, m, h);
    rows_[(std::size_t)n] = table_row(n, m, h, box);
    found_.files.push_back(f);
    return found_.files.back();
}

// The run's worst so far: its first inverted file, its worst element, its largest step.
void Checker::note_worst(int n, const Mesh &m, const Health &h)
{
    const char *name = res_file_name(n);
    char line[512];
    if (h.ninverted > 0 && found_.first_inverted < 0)
        found_.first_inverted = n;
    found_.degenerate = found_.degenerate || h.ndegenerate > 0;
    if (h.worst >= 0 && h.worst_quality < found_.worst_quality) {
        double x = 0, y = 0;
        element_centroid(m, h.worst, &x, &y);
        std::snprintf(line, sizeof line, "%s, element %d at %s", name, h.worst + 1,
                      place(x, y).c_str());
        found_.worst_quality = h.worst_quality;
        found_.worst_where = line;
    }
    if (h.far_previous >= 0 && h.disp_previous > found_.largest_step) {
        // A step over files that are missing or left out names both ends.
        const int from = health_.previous_index();
        std::string files = from == n - 1
                                ? std::string("in ") + name
                                : std::string("from ") + res_file_name(from) + " to " + name;
        std::snprintf(line, sizeof line, "%s, node %d at %s", files.c_str(), h.far_previous + 1,
                      place(m.x[h.far_previous], m.y[h.far_previous]).c_str());
        found_.largest_step = h.disp_previous;
        found_.step_where = line;
    }
}

// index,name,nodes,elements,inverted,degenerate,worst_quality,worst_element,
// displacement_from_reference,displacement_from_previous,xmin,xmax,ymin,ymax
std::string Checker::table_row(int n, const Mesh &m, const Health &h, const Extent &box)
{
    char line[512];
    std::snprintf(line, sizeof line, "%d,%s,%d,%d,%d,%d,", n, res_file_name(n), m.np, m.nele,
                  h.ninverted, h.ndegenerate);
    std::string row = line;
    if (h.worst >= 0)
        row += number(h.worst_quality) + "," + std::to_string(h.worst + 1);
    else
        row += ",";
    row += "," + number(h.disp_reference) + ",";
    if (h.far_previous >= 0)
        row += number(h.disp_previous);
    for (double v : {box.xmin, box.xmax, box.ymin, box.ymax})
        row += "," + (box.any ? number(v) : "");
    return row + "\n";
}

// The table of every present file, as CSV.
Status write_table(const char *table, const SeriesLoop &loop, const Checker &checker)
{
    std::string csv = "index,name,nodes,elements,inverted,degenerate,worst_quality,"
                      "worst_element,displacement_from_reference,"
                      "displacement_from_previous,xmin,xmax,ymin,ymax\n";
    for (int n = 0; n <= FILE_INDEX_MAX; ++n)
        if (loop.state(n) == FileState::GOOD)
            csv += checker.row(n);
        else if (is_present(loop.state(n)))
            csv += std::to_string(n) + "," + res_file_name(n) + ",,,,,,,,,,,,\n";
    Status s = open_output_file(table);
    return s.ok() ? write_whole_file(table, csv.data(), csv.size()) : s;
}

// Each file as it completes, with what it shows, while following.
void print_completed(int n, const Mesh &mesh, const FileFindings &f)
{
    std::printf("%s: well formed, %s, %s\n", res_file_name(n), counted(mesh.np, "node").c_str(),
                counted(mesh.nele, "element").c_str());
    for (const auto &line : finding_lines(f))
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int rescheck(int argc, char **argv)
{
    SeriesTool tool({"rescheck", "checked"});
    const char *table = nullptr;
    bool verbose = false;
    if (!tool.start(
            argc, argv,
            {path_option("--table", "a file name", &table), flag_option("--verbose", &verbose)},
            usage()))
        return tool.exit_status();
    tool.report().set_faults(stdout); // the broken files are the report
    auto checker = std::make_unique<Checker>(tool.dir());
    LastContents last;
    tool.run([&](int n, const Mesh &mesh) {
        const FileFindings &f = checker->examine(n, mesh);
        tool.wrote(n);
        if (tool.following()) {
            print_completed(n, mesh, f);
            last.keep(n, mesh);
        }
        return Status();
    });
    // A follow's report is of what is on disk at its end: each file's last complete content,
    // measured in series order, as a run over the finished series measures it.
    if (tool.following()) {
        checker = std::make_unique<Checker>(tool.dir());
        tool.fail(last.replay([&checker](int n, const Mesh &mesh) {
            checker->examine(n, mesh);
            return Status();
        }));
        checker->found().lines_printed = true;
    }
    const SeriesLoop &loop = tool.loop();
    const RunFindings &found = checker->found();
    print_report(loop, found, verbose);
    const std::string hint = loop.present() == 0 ? naming_hint(tool.dir()) : "";
    if (!hint.empty()) {
        std::fflush(stdout);
        tool.report().note(hint);
    }
    if (table)
        tool.fail(write_table(table, loop, *checker));
    if (loop.broken() > 0 || loop.unreadable() > 0 || loop.state(1) == FileState::MISSING)
        return tool.end_with(1);
    return tool.end_with(found.first_inverted >= 0 || found.degenerate ? 3 : 0);
}

} // namespace

int main(int argc, char **argv)
{
    return exit_status_or_signal(rescheck(argc, argv));
}
