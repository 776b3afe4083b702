// The web page's data for the sample series and for max-size meshes: deflate's settings tried on
// the records res2html makes (size of the page's data and time to make it), and res2html itself
// against rescheck on the same files (median of three interleaved runs).
#include "bench/bench_support.h"
#include "resfile/series_health.h"
#include "tests/support/child.h"
#include "tools/res2html/page_encoder.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>
#include <zlib.h>

namespace
{

// Every file of the series in dir with its health.
struct Series {
    std::vector<std::unique_ptr<Mesh>> meshes;
    std::vector<std::unique_ptr<Health>> health;
};

Series load(const std::string &dir)
{
    Series s;
    SeriesHealth health(dir.c_str());
    for (int n = 0; n <= FILE_INDEX_MAX; ++n) {
        auto m = std::make_unique<Mesh>();
        if (load_res(dir.c_str(), n, m.get()).status != LoadStatus::LOADED)
            continue;
        s.health.push_back(std::make_unique<Health>(health.measure(n, *m)));
        s.meshes.push_back(std::move(m));
    }
    return s;
}

} // namespace

int main()
{
    TempDir dir;
    const std::string sample = dir.path + "/sample", max = dir.path + "/max";
    if (!write_both_series(dir.path))
        return 1;
    const struct {
        const char *name;
        int level, strategy;
    } codings[] = {
        {"deflate 9", 9, Z_DEFAULT_STRATEGY},        {"deflate 6", 6, Z_DEFAULT_STRATEGY},
        {"deflate 6, filtered", 6, Z_FILTERED},      {"deflate 1", 1, Z_DEFAULT_STRATEGY},
        {"deflate 6, runs only (chosen)", 6, Z_RLE}, {"deflate 1, runs only", 1, Z_RLE},
    };
    for (const auto &[what, path] : {std::pair<const char *, std::string>{"sample series", sample},
                                     {"max-size series", max}}) {
        Series s = load(path);
        for (const auto &c : codings) {
            PageCoding coding;
            coding.level = c.level;
            coding.strategy = c.strategy;
            double best = 1e30;
            std::size_t bytes = 0;
            for (int round = 0; round < 3; ++round) {
                PageEncoder e(coding);
                double t0 = now_ms();
                for (std::size_t k = 0; k < s.meshes.size(); ++k)
                    (void)e.add((int)k, *s.meshes[k], *s.health[k]);
                (void)e.finish();
                best = std::min(best, now_ms() - t0);
                bytes = 0;
                for (const auto &chunk : e.chunks())
                    bytes += chunk.base64.size();
            }
            std::printf("%s: page data %s: %.2f MB as base64, %.0f ms\n", what, c.name,
                        (double)bytes / 1e6, best);
        }
        std::vector<double> page_s, check_s;
        for (int round = 0; round < 3; ++round) {
            page_s.push_back(run_seconds({RES2HTML_EXE, "-o", "p.html", path}, dir.path));
            check_s.push_back(run_seconds({RESCHECK_EXE, path}, dir.path));
        }
        std::sort(page_s.begin(), page_s.end());
        std::sort(check_s.begin(), check_s.end());
        print_figure((std::string("res2html, ") + what).c_str(), page_s[1], "s");
        print_figure((std::string("res2html / rescheck, ") + what + " (goal: 2 at most)").c_str(),
                     page_s[1] / check_s[1], "x");
    }
    return 0;
}
