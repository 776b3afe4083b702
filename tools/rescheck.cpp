// rescheck: checks a result series before it is viewed. Reads every file of the series that
// exists with the viewer's own reader and reports broken files, the present and missing ranges,
// how far B and N reach from file 1, and a summary.
#include "res_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>

namespace
{

enum class State { MISSING, GOOD, BROKEN };

const char USAGE[] = "usage: rescheck [DIR]\n"
                     "Checks the result series res0000.inp .. res01010.inp in DIR (default: the "
                     "working directory).\n"
                     "Exit status: 0 all present files well formed and file 1 present, 1 a file "
                     "broken or file 1 missing, 2 usage error.\n";

int usage_error(const char *fmt, const char *arg)
{
    std::fprintf(stderr, "rescheck: ");
    std::fprintf(stderr, fmt, arg);
    std::fprintf(stderr, "\n%s", USAGE);
    return 2;
}

// Prints the runs of indices whose state passes `in`, as "0-417, 420-1010", or "none".
template <typename Pred> void print_ranges(const State (&st)[FILE_INDEX_MAX + 1], Pred in)
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
    const char *dir = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return usage_error("unknown option %s", argv[i]);
        if (dir)
            return usage_error("more than one directory given (%s)", argv[i]);
        dir = argv[i];
    }
    DIR *d = opendir(dir ? dir : ".");
    if (!d) {
        std::string why = std::string(dir ? dir : ".") + ": " + std::strerror(errno);
        return usage_error("cannot read %s", why.c_str());
    }
    closedir(d);

    static State st[FILE_INDEX_MAX + 1];
    static Mesh mesh;
    int n_present = 0, n_broken = 0, max_np = 0, max_nele = 0;
    for (int n = 0; n <= FILE_INDEX_MAX; ++n) {
        // With no DIR the names stand alone, as the viewer prints them.
        LoadResult r = load_res(dir, n, &mesh);
        st[n] = r.status == LoadStatus::LOADED                              ? State::GOOD
                : r.status == LoadStatus::CANNOT_OPEN && r.errnum == ENOENT ? State::MISSING
                                                                            : State::BROKEN;
        if (r.status == LoadStatus::CANNOT_OPEN && st[n] == State::BROKEN)
            std::printf("%s: cannot open: %s\n", r.path, std::strerror(r.errnum));
        if (r.status == LoadStatus::MALFORMED)
            print_res_error(stdout, r.path, r.fault);
        if (st[n] == State::GOOD) {
            max_np = mesh.np > max_np ? mesh.np : max_np;
            max_nele = mesh.nele > max_nele ? mesh.nele : max_nele;
        }
        n_present += st[n] != State::MISSING;
        n_broken += st[n] == State::BROKEN;
    }

    std::printf("present: ");
    print_ranges(st, [](State s) { return s != State::MISSING; });
    std::printf("; missing: ");
    print_ranges(st, [](State s) { return s == State::MISSING; });
    std::printf("\n");
    if (st[1] == State::GOOD) {
        int lo = 1, hi = 1;
        while (lo > 0 && st[lo - 1] == State::GOOD)
            --lo;
        while (hi < FILE_INDEX_MAX && st[hi + 1] == State::GOOD)
            ++hi;
        std::printf("from file 1, B and N reach %d-%d without ending the viewer\n", lo, hi);
    } else {
        std::printf("file 1 is %s: the viewer ends at start-up\n",
                    st[1] == State::MISSING ? "missing" : "broken");
    }
    std::printf("%d files present, %d well formed, %d broken; largest: %d nodes, %d elements\n",
                n_present, n_present - n_broken, n_broken, max_np, max_nele);
    return n_broken == 0 && st[1] != State::MISSING ? 0 : 1;
}
