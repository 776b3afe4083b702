// The programs beside the viewer on whole series, each the real program timed from start to end
// (median of three interleaved runs): resrender on the 1011-file sample series to PNG, to GIF and
// to both, and on max-size meshes; res2vtk on 1011 max-size files in both encodings; rescheck,
// and what finding each file's reference costs it; resdiff on 1011 pairs of max-size files,
// identical and differing, against rescheck reading both series and against numdiff on the same
// pairs; the health check in-process against reading alone.
#include "bench/bench_support.h"
#include "resfile/series_health.h"
#include "tests/support/child.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

int main()
{
    TempDir dir;
    const std::string sample = dir.path + "/sample", max = dir.path + "/max";
    if (!write_both_series(dir.path))
        return 1;
    // The last eleven max-size files alone; and the max-size series whose mesh changes at file
    // 505 to the sample's.
    const std::string tail = dir.path + "/tail", change = dir.path + "/change";
    std::filesystem::create_directories(tail);
    std::filesystem::copy(max, change);
    for (int n = 1000; n <= FILE_INDEX_MAX; ++n)
        std::filesystem::copy_file(max + "/" + res_file_name(n), tail + "/" + res_file_name(n));
    for (int n = 505; n <= FILE_INDEX_MAX; ++n)
        std::filesystem::copy_file(sample + "/" + res_file_name(n), change + "/" + res_file_name(n),
                                   std::filesystem::copy_options::overwrite_existing);
    // The max-size series again, byte for byte, and folding from its first file: every pair
    // differs.
    const std::string same = dir.path + "/same", fold = dir.path + "/fold";
    std::filesystem::copy(max, same);
    if (run_program({SAMPLE_SERIES_EXE, "--max-size", "--fold", "0", fold}, dir.path).status != 0)
        return 1;
    const double files = FILE_INDEX_MAX + 1;
    const struct {
        const char *what;
        std::vector<std::string> args;
        double per; // figures per run: frames for ms a frame, 0 for seconds a run
        int status = 0;
    } runs[] = {
        {"resrender, sample series to PNG (goal: 6 ms)",
         {RESRENDER_EXE, "--png", "png", sample},
         files},
        {"resrender, sample series to GIF", {RESRENDER_EXE, "--gif", "a.gif", sample}, files},
        {"resrender, sample series to PNG and GIF",
         {RESRENDER_EXE, "--png", "png", "--gif", "a.gif", sample},
         files},
        {"resrender, max-size mesh to PNG (101 files)",
         {RESRENDER_EXE, "--last", "100", "--png", "maxpng", max},
         101},
        {"res2vtk, 1011 max-size files, binary (goal: 2 s)", {RES2VTK_EXE, max}, 0},
        {"res2vtk, 1011 max-size files, --ascii", {RES2VTK_EXE, "--ascii", max}, 0},
        {"rescheck, 1011 max-size files", {RESCHECK_EXE, max}, 0},
        {"rescheck --first 1000, max-size: 11 files and their reference",
         {RESCHECK_EXE, "--first", "1000", max},
         0},
        {"rescheck --first 1000, the same 11 files alone",
         {RESCHECK_EXE, "--first", "1000", tail},
         0},
        {"rescheck --every 10, max-size, one mesh", {RESCHECK_EXE, "--every", "10", max}, 0},
        {"rescheck --every 10, the mesh new at 505: a pass over 0..509",
         {RESCHECK_EXE, "--every", "10", change},
         0},
        {"rescheck, the folding max-size series", {RESCHECK_EXE, fold}, 0, 3},
        {"resdiff, 1011 pairs of identical max-size files", {RESDIFF_EXE, max, same}, 0},
        {"resdiff, 1011 pairs of differing max-size files", {RESDIFF_EXE, max, fold}, 0, 1},
    };
    // The three rounds interleaved, so that a slow spell of a shared machine falls on all alike.
    constexpr int NRUNS = sizeof runs / sizeof runs[0];
    std::vector<double> times[NRUNS];
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < NRUNS; ++i) {
            double s = run_seconds(runs[i].args, dir.path, runs[i].status);
            if (s < 0)
                return 1;
            times[i].push_back(s);
        }
    }
    double median[NRUNS];
    for (int i = 0; i < NRUNS; ++i) {
        std::sort(times[i].begin(), times[i].end());
        double s = median[i] = times[i][1];
        if (runs[i].per > 0)
            print_figure(runs[i].what, s / runs[i].per * 1e3, "ms/f");
        else
            print_figure(runs[i].what, s, "s");
    }
    // resdiff against rescheck reading both series, and against numdiff on twenty of the pairs.
    const auto of = [&](const char *what) {
        for (int i = 0; i < NRUNS; ++i)
            if (std::string(runs[i].what) == what)
                return median[i];
        return -1.0;
    };
    const double differing = of("resdiff, 1011 pairs of differing max-size files");
    print_figure("resdiff, differing, over rescheck of both (goal: 1.5 at most)",
                 differing / (of("rescheck, 1011 max-size files") +
                              of("rescheck, the folding max-size series")),
                 "x");
    std::vector<double> numdiff;
    for (int n = 1; n <= 20; ++n) {
        double s = run_seconds({"numdiff", "-q", "-a", "1e-10", max + "/" + res_file_name(n),
                                fold + "/" + res_file_name(n)},
                               dir.path, 1);
        if (s < 0)
            return 1;
        numdiff.push_back(s);
    }
    std::sort(numdiff.begin(), numdiff.end());
    const double resdiff_pair = differing / files;
    print_figure("numdiff, one differing pair", numdiff[10] * 1e3, "ms");
    print_figure("resdiff, one differing pair, in a whole series", resdiff_pair * 1e3, "ms");
    print_figure("numdiff over resdiff a pair (goal: 25 at least)", numdiff[10] / resdiff_pair,
                 "x");

    // Reading the 1011 max-size files, and reading them with the health check, in this process:
    // rounds interleaved, the median of each.
    auto mesh = std::make_unique<Mesh>();
    std::vector<double> read_s, check_s;
    for (int round = 0; round < 5; ++round) {
        for (bool check : {false, true}) {
            SeriesHealth health(max.c_str());
            double t0 = now_ms();
            for (int n = 0; n <= FILE_INDEX_MAX; ++n) {
                if (load_res(max.c_str(), n, mesh.get()).status != LoadStatus::LOADED)
                    return 1;
                if (check)
                    health.measure(n, *mesh);
            }
            (check ? check_s : read_s).push_back((now_ms() - t0) / 1e3);
        }
    }
    std::sort(read_s.begin(), read_s.end());
    std::sort(check_s.begin(), check_s.end());
    print_figure("read 1011 max-size files (load_res)", read_s[2], "s");
    print_figure("read them and check their health", check_s[2], "s");
    print_figure("health check over reading (goal: 1.5 at most)", check_s[2] / read_s[2], "x");
    return 0;
}
