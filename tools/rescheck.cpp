// rescheck: checks a result series before it is viewed. Reads every file of the series that
// exists with the viewer's own reader and reports broken files, the present and missing ranges,
// how far B and N reach from file 1, and a summary.
#include "res_file.h"
#include "series_tool.h"

#include <cstdio>

namespace
{

const char USAGE[] =
    "usage: rescheck [OPTIONS] [DIR]\n"
    "Checks the result series res0000.inp .. res01010.inp in DIR (default: the working "
    "directory).\n"
    "  --first N      first index, 0..1010 (default 0)\n"
    "  --last N       last index, 0..1010 (default 1010)\n"
    "  --every K      every K-th index from the first (default 1)\n"
    "  --             ends the options: a DIR that begins with '-' follows\n"
    "Exit status: 0 all present files well formed and file 1 present, 1 a file broken, file 1\n"
    "missing or DIR unreadable, 2 usage error, 128 + N when stopped by signal N.\n";

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
    int status = parse_command_line(argc, argv, run.program, USAGE, range_options(&run), &run.dir);
    if (status < 0)
        status = start_run(&run, USAGE);
    if (status >= 0)
        return status;

    int max_np = 0, max_nele = 0;
    run_series(&run, [&](int, const Mesh &mesh) {
        max_np = mesh.np > max_np ? mesh.np : max_np;
        max_nele = mesh.nele > max_nele ? mesh.nele : max_nele;
        ++run.written;
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
    if (run.signal) {
        std::fflush(stdout);
        std::fprintf(stderr, "rescheck: stopped by %s after %d files\n",
                     signal_name(run.signal).c_str(), run.done);
        end_by_signal(run.signal);
    }
    return run.broken == 0 && st[1] != FileState::MISSING ? 0 : 1;
}
