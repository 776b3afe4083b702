// rescheck: checks a result series before it is viewed. Reads every file of the series that
// exists with the viewer's own reader and reports broken files, the present and missing ranges,
// how far B and N reach from file 1, a summary, and the series' health: where elements turn
// inside out or collapse, the worst shaped element and the largest step of a node.
#include "health.h"
#include "res_file.h"
#include "series_tool.h"
#include "shared_usage.h"
#include "stop_signals.h"
#include "temporaries.h"
#include "whole_file.h"

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
           "                 worst quality, largest displacement\n"
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

// The worst that the run has seen.
struct Findings {
    std::vector<std::string> lines;       // one per file with a finding, in series order
    std::string rows[FILE_INDEX_MAX + 1]; // the table's row of each well-formed file
    int first_inverted = -1;              // index of the first file with an inverted element
    bool degenerate = false;
    double worst_quality = 2.0;
    std::string worst_where;
    double largest_step = -1.0;
    std::string step_where;
    int max_np = 0;
    int max_nele = 0;
};

// The files of a run measured one by one against their reference, and what they show.
class Checker
{
  public:
    // Measures file n and notes what it shows.
    void examine(int n, const Mesh &m);
    Findings &found()
    {
        return found_;
    }

  private:
    void note_elements(const char *name, const Mesh &m);
    void note_worst(int n, const Mesh &m);
    std::string table_row(int n, const Mesh &m) const;

    std::unique_ptr<HealthTrack> track_ = std::make_unique<HealthTrack>();
    std::unique_ptr<Health> h_ = std::make_unique<Health>();
    Findings found_;
};

void Checker::examine(int n, const Mesh &m)
{
    bool first = !track_->started;
    measure_health(track_.get(), m, h_.get());
    const char *name = res_file_name(n);
    found_.max_np = m.np > found_.max_np ? m.np : found_.max_np;
    found_.max_nele = m.nele > found_.max_nele ? m.nele : found_.max_nele;
    if (h_->new_mesh && !first) {
        char line[512];
        std::snprintf(line, sizeof line, "%s: a new mesh starts: %d nodes, %d elements", name, m.np,
                      m.nele);
        found_.lines.emplace_back(line);
    }
    note_elements(name, m);
    note_worst(n, m);
    found_.rows[n] = table_row(n, m);
}

// A line for each kind of fault the file has, naming the first element of that kind.
void Checker::note_elements(const char *name, const Mesh &m)
{
    const Health &h = *h_;
    const struct {
        int count, first;
        const char *what;
    } kinds[] = {{h.ninverted, h.first_inverted, "inverted"},
                 {h.ndegenerate, h.first_degenerate, "degenerate (zero area)"}};
    for (const auto &k : kinds) {
        if (k.count == 0)
            continue;
        double x = 0, y = 0;
        element_centroid(m, k.first, &x, &y);
        char line[512];
        std::snprintf(line, sizeof line, "%s: %d element%s %s; first: element %d at %s", name,
                      k.count, k.count == 1 ? "" : "s", k.what, k.first + 1, place(x, y).c_str());
        found_.lines.emplace_back(line);
    }
}

// The run's worst so far: its first inverted file, its worst element, its largest step.
void Checker::note_worst(int n, const Mesh &m)
{
    const Health &h = *h_;
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
        std::snprintf(line, sizeof line, "%s, node %d at %s", name, h.far_previous + 1,
                      place(m.x[h.far_previous], m.y[h.far_previous]).c_str());
        found_.largest_step = h.disp_previous;
        found_.step_where = line;
    }
}

// index,name,nodes,elements,inverted,degenerate,worst_quality,worst_element,
// displacement_from_reference,displacement_from_previous
std::string Checker::table_row(int n, const Mesh &m) const
{
    const Health &h = *h_;
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
    return row + "\n";
}

// Prints the runs of indices whose state passes `in`, as "0-417, 420-1010", or "none".
template <typename Pred> void print_ranges(const SeriesLoop &loop, Pred in)
{
    bool any = false;
    for (int n = 0; n <= FILE_INDEX_MAX; ++n) {
        if (!in(loop.state(n)) || (n > 0 && in(loop.state(n - 1))))
            continue;
        int last = n;
        while (last < FILE_INDEX_MAX && in(loop.state(last + 1)))
            ++last;
        std::printf(any ? ", %d" : "%d", n);
        if (last > n)
            std::printf("-%d", last);
        any = true;
    }
    if (!any)
        std::printf("none");
}

// The report: the present and missing ranges, how far B and N reach, the counts and the findings.
void print_report(const SeriesLoop &loop, const Findings &found, int checked)
{
    std::printf("present: ");
    print_ranges(loop, [](FileState s) { return s == FileState::GOOD || s == FileState::BROKEN; });
    std::printf("; missing: ");
    print_ranges(loop, [](FileState s) { return s == FileState::MISSING; });
    std::printf("\n");
    if (loop.state(1) == FileState::GOOD) {
        int lo = 1, hi = 1;
        while (lo > 0 && loop.state(lo - 1) == FileState::GOOD)
            --lo;
        while (hi < FILE_INDEX_MAX && loop.state(hi + 1) == FileState::GOOD)
            ++hi;
        std::printf("from file 1, B and N reach %d-%d without ending the viewer\n", lo, hi);
    } else if (loop.state(1) != FileState::UNSEEN) {
        std::printf("file 1 is %s: the viewer ends at start-up\n",
                    loop.state(1) == FileState::MISSING ? "missing" : "broken");
    }
    std::printf("%d files present, %d well formed, %d broken; largest: %d nodes, %d elements\n",
                loop.present(), loop.present() - loop.broken(), loop.broken(), found.max_np,
                found.max_nele);
    for (const auto &line : found.lines)
        std::printf("%s\n", line.c_str());
    if (found.first_inverted >= 0)
        std::printf("first file with an inverted element: %s\n",
                    res_file_name(found.first_inverted));
    else if (checked > 0)
        std::printf("no element is inverted\n");
    if (!found.worst_where.empty())
        std::printf("worst quality: %.4g in %s\n", found.worst_quality, found.worst_where.c_str());
    if (!found.step_where.empty())
        std::printf("largest displacement from one file to the next: %.4g in %s\n",
                    found.largest_step, found.step_where.c_str());
}

// The table of every present file, as CSV.
Status write_table(const char *table, const SeriesLoop &loop, const Findings &found)
{
    std::string csv = "index,name,nodes,elements,inverted,degenerate,worst_quality,"
                      "worst_element,displacement_from_reference,"
                      "displacement_from_previous\n";
    for (int n = 0; n <= FILE_INDEX_MAX; ++n)
        if (loop.state(n) == FileState::GOOD)
            csv += found.rows[n];
        else if (loop.state(n) == FileState::BROKEN)
            csv += std::to_string(n) + "," + res_file_name(n) + ",,,,,,,,\n";
    remove_stale_temporaries_of(table);
    return write_whole_file(table, csv.data(), csv.size());
}

} // namespace

int main(int argc, char **argv)
{
    SeriesTool tool({"rescheck", "checked"});
    const char *table = nullptr;
    if (!tool.start(
            argc, argv,
            {{"--table", Takes::PATH, [&](const char *v) { return (table = v) != nullptr; }}},
            usage()))
        return tool.exit_status();
    tool.report().set_faults(stdout); // the broken files are the report
    auto checker = std::make_unique<Checker>();
    Findings &found = checker->found();
    tool.run([&](int n, const Mesh &mesh) {
        checker->examine(n, mesh);
        tool.report().set_written(tool.report().written() + 1);
        if (tool.following()) {
            // Each file as it completes, with what it shows.
            std::printf("%s: well formed, %d nodes, %d elements\n", res_file_name(n), mesh.np,
                        mesh.nele);
            for (const auto &line : found.lines)
                std::printf("%s\n", line.c_str());
            found.lines.clear();
            std::fflush(stdout);
        }
        return Status();
    });
    const SeriesLoop &loop = tool.loop();
    print_report(loop, found, tool.report().written());
    Status table_written = table ? write_table(table, loop, found) : Status();
    if (!table_written.ok()) {
        std::fflush(stdout);
        std::fprintf(stderr, "rescheck: %s\n", table_written.message().c_str());
    }
    if (loop.stopped_by()) {
        std::fflush(stdout);
        std::fprintf(stderr, "rescheck: stopped by %s after %d files\n",
                     signal_name(loop.stopped_by()).c_str(), loop.done());
        return 128 + loop.stopped_by(); // the tool ends the process by the signal
    }
    if (loop.broken() > 0 || loop.state(1) == FileState::MISSING || !table_written.ok())
        return 1;
    return found.first_inverted >= 0 || found.degenerate ? 3 : 0;
}
