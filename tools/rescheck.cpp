// rescheck: checks a result series before it is viewed. Reads every file of the series that
// exists with the viewer's own reader and reports broken files, the present and missing ranges,
// how far B and N reach from file 1, a summary, and the series' health: where elements turn
// inside out or collapse, the worst shaped element and the largest step of a node.
#include "health.h"
#include "res_file.h"
#include "series_tool.h"
#include "whole_file.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

namespace
{

const char USAGE[] =
    "usage: rescheck [OPTIONS] [DIR]\n"
    "Checks the result series res0000.inp .. res01010.inp in DIR (default: the working "
    "directory).\n"
    "  --first N      first index, 0..1010 (default 0)\n"
    "  --last N       last index, 0..1010 (default 1010)\n"
    "  --every K      every K-th index from the first (default 1)\n"
    "  --table FILE   one CSV row per present file: counts, inverted and degenerate elements,\n"
    "                 worst quality, largest displacement\n"
    "  --follow       then go on checking files of the range as they are written: a line for\n"
    "                 each as it completes, the report when the follow ends (SIGINT, SIGTERM)\n"
    "  --poll SECONDS with --follow, on file systems without events: a file is complete once\n"
    "                 unchanged for this long\n"
    "  --idle SECONDS with --follow, end after this long without a complete file\n"
    "  --             ends the options: a DIR that begins with '-' follows\n"
    "Exit status: 0 all present files well formed and file 1 present, 1 a file broken, file 1\n"
    "missing, DIR unreadable or the table not written, 2 usage error, 3 all well formed but an\n"
    "element inverted or degenerate, 128 + N when stopped by signal N.\n";

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
};

// Measures file n and notes what it shows.
void examine(int n, const Mesh &m, HealthTrack *track, Findings *f)
{
    static Health h;
    bool first = !track->started;
    measure_health(track, m, &h);
    const char *name = res_file_name(n);
    char line[512];
    double x = 0, y = 0;
    if (h.new_mesh && !first) {
        std::snprintf(line, sizeof line, "%s: a new mesh starts: %d nodes, %d elements", name, m.np,
                      m.nele);
        f->lines.emplace_back(line);
    }
    const struct {
        int count, first;
        const char *what;
    } kinds[] = {{h.ninverted, h.first_inverted, "inverted"},
                 {h.ndegenerate, h.first_degenerate, "degenerate (zero area)"}};
    for (const auto &k : kinds) {
        if (k.count == 0)
            continue;
        element_centroid(m, k.first, &x, &y);
        std::snprintf(line, sizeof line, "%s: %d element%s %s; first: element %d at %s", name,
                      k.count, k.count == 1 ? "" : "s", k.what, k.first + 1, place(x, y).c_str());
        f->lines.emplace_back(line);
    }
    if (h.ninverted > 0 && f->first_inverted < 0)
        f->first_inverted = n;
    f->degenerate = f->degenerate || h.ndegenerate > 0;
    if (h.worst >= 0 && h.worst_quality < f->worst_quality) {
        element_centroid(m, h.worst, &x, &y);
        std::snprintf(line, sizeof line, "%s, element %d at %s", name, h.worst + 1,
                      place(x, y).c_str());
        f->worst_quality = h.worst_quality;
        f->worst_where = line;
    }
    if (h.far_previous >= 0 && h.disp_previous > f->largest_step) {
        std::snprintf(line, sizeof line, "%s, node %d at %s", name, h.far_previous + 1,
                      place(m.x[h.far_previous], m.y[h.far_previous]).c_str());
        f->largest_step = h.disp_previous;
        f->step_where = line;
    }
    // index,name,nodes,elements,inverted,degenerate,worst_quality,worst_element,
    // displacement_from_reference,displacement_from_previous
    std::snprintf(line, sizeof line, "%d,%s,%d,%d,%d,%d,", n, name, m.np, m.nele, h.ninverted,
                  h.ndegenerate);
    std::string &row = f->rows[n];
    row = line;
    if (h.worst >= 0)
        row += number(h.worst_quality) + "," + std::to_string(h.worst + 1);
    else
        row += ",";
    row += "," + number(h.disp_reference) + ",";
    if (h.far_previous >= 0)
        row += number(h.disp_previous);
    row += "\n";
}

// Prints the runs of indices whose state passes `in`, as "0-417, 420-1010", or "none".
template <typename Pred> void print_ranges(const FileState (&st)[FILE_INDEX_MAX + 1], Pred in)
{
    bool any = false;
    for (int n = 0; n <= FILE_INDEX_MAX; ++n) {
        if (!in(st[n]) || (n > 0 && in(st[n - 1])))
            continue;
        int last = n;
        while (last < FILE_INDEX_MAX && in(st[last + 1]))
            ++last;
        std::printf(any ? ", %d" : "%d", n);
        if (last > n)
            std::printf("-%d", last);
        any = true;
    }
    if (!any)
        std::printf("none");
}

} // namespace

int main(int argc, char **argv)
{
    SeriesRun run;
    run.program = "rescheck";
    run.verb = "checked";
    run.faults = stdout; // the broken files are the report
    const char *table = nullptr;
    std::vector<Option> opts = range_options(&run);
    for (auto &o : follow_options(&run))
        opts.push_back(o);
    opts.push_back({"--table", Takes::PATH, [&](const char *v) { return (table = v) != nullptr; }});
    int status = parse_command_line(argc, argv, run.program, USAGE, opts, &run.dir);
    if (status < 0)
        status = start_run(&run, USAGE);
    if (status >= 0)
        return status;

    int max_np = 0, max_nele = 0;
    static HealthTrack track;
    static Findings found;
    run_series(&run, [&](int n, const Mesh &mesh) {
        max_np = mesh.np > max_np ? mesh.np : max_np;
        max_nele = mesh.nele > max_nele ? mesh.nele : max_nele;
        examine(n, mesh, &track, &found);
        ++run.written;
        if (run.follow) {
            // Each file as it completes, with what it shows.
            std::printf("%s: well formed, %d nodes, %d elements\n", res_file_name(n), mesh.np,
                        mesh.nele);
            for (const auto &line : found.lines)
                std::printf("%s\n", line.c_str());
            found.lines.clear();
            std::fflush(stdout);
        }
        return true;
    });

    const FileState(&st)[FILE_INDEX_MAX + 1] = run.state;
    std::printf("present: ");
    print_ranges(st, [](FileState s) { return s == FileState::GOOD || s == FileState::BROKEN; });
    std::printf("; missing: ");
    print_ranges(st, [](FileState s) { return s == FileState::MISSING; });
    std::printf("\n");
    if (st[1] == FileState::GOOD) {
        int lo = 1, hi = 1;
        while (lo > 0 && st[lo - 1] == FileState::GOOD)
            --lo;
        while (hi < FILE_INDEX_MAX && st[hi + 1] == FileState::GOOD)
            ++hi;
        std::printf("from file 1, B and N reach %d-%d without ending the viewer\n", lo, hi);
    } else if (st[1] != FileState::UNSEEN) {
        std::printf("file 1 is %s: the viewer ends at start-up\n",
                    st[1] == FileState::MISSING ? "missing" : "broken");
    }
    std::printf("%d files present, %d well formed, %d broken; largest: %d nodes, %d elements\n",
                run.present, run.present - run.broken, run.broken, max_np, max_nele);
    for (const auto &line : found.lines)
        std::printf("%s\n", line.c_str());
    if (found.first_inverted >= 0)
        std::printf("first file with an inverted element: %s\n",
                    res_file_name(found.first_inverted));
    else if (run.written > 0)
        std::printf("no element is inverted\n");
    if (!found.worst_where.empty())
        std::printf("worst quality: %.4g in %s\n", found.worst_quality, found.worst_where.c_str());
    if (!found.step_where.empty())
        std::printf("largest displacement from one file to the next: %.4g in %s\n",
                    found.largest_step, found.step_where.c_str());
    bool table_failed = false;
    if (table) {
        std::string csv = "index,name,nodes,elements,inverted,degenerate,worst_quality,"
                          "worst_element,displacement_from_reference,"
                          "displacement_from_previous\n";
        for (int n = 0; n <= FILE_INDEX_MAX; ++n)
            if (run.state[n] == FileState::GOOD)
                csv += found.rows[n];
            else if (run.state[n] == FileState::BROKEN)
                csv += std::to_string(n) + "," + res_file_name(n) + ",,,,,,,,\n";
        std::string why;
        if (!write_whole_file(table, csv.data(), csv.size(), &why)) {
            std::fflush(stdout);
            std::fprintf(stderr, "rescheck: %s\n", why.c_str());
            table_failed = true;
        }
    }
    if (run.signal) {
        std::fflush(stdout);
        std::fprintf(stderr, "rescheck: stopped by %s after %d files\n",
                     signal_name(run.signal).c_str(), run.done);
        end_by_signal(run.signal);
    }
    if (run.broken > 0 || st[1] == FileState::MISSING || table_failed)
        return 1;
    return found.first_inverted >= 0 || found.degenerate ? 3 : 0;
}
