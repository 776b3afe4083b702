// The reader on a max-size result file, against a reader that takes the same steps with fscanf;
// and what the viewer's --fit adds to its first frame: reading every file of a series for its box.
#include "bench/bench_support.h"
#include "tests/support/child.h"
#include "view/framing.h"
#include "view/read_res.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

Mesh mesh;

// The straightforward reader: formatted input, one record after another, checks left out.
void fscanf_read(const char *name, Mesh *m)
{
    FILE *f = std::fopen(name, "r");
    if (!f)
        std::abort();
    if (std::fscanf(f, "%d %d\n", &m->np, &m->nele) != 2)
        std::abort();
    for (int r = 0; r < m->nele; ++r) {
        int kele, a, b, c;
        if (std::fscanf(f, "%d", &kele) != 1 || std::fscanf(f, "%d %d %d\n", &a, &b, &c) != 3)
            std::abort();
        m->ele[kele - 1][0] = a - 1;
        m->ele[kele - 1][1] = b - 1;
        m->ele[kele - 1][2] = c - 1;
    }
    for (int r = 0; r < m->np; ++r) {
        int kp;
        if (std::fscanf(f, "%d", &kp) != 1 ||
            std::fscanf(f, "%lf %lf\n", &m->x[kp - 1], &m->y[kp - 1]) != 2)
            std::abort();
    }
    std::fclose(f);
}

void allocations_per_read(benchmark::State &state, std::size_t before)
{
    state.counters["allocs/read"] =
        benchmark::Counter((double)(heap_allocations() - before) / (double)state.iterations());
}

void BM_read_res(benchmark::State &state)
{
    std::size_t before = heap_allocations();
    for (auto _ : state) {
        mesh = read_res(1);
        benchmark::DoNotOptimize(mesh.x[0]);
    }
    allocations_per_read(state, before);
}

void BM_fscanf_reader(benchmark::State &state)
{
    std::size_t before = heap_allocations();
    for (auto _ : state) {
        fscanf_read("res0001.inp", &mesh);
        benchmark::DoNotOptimize(mesh.x[0]);
    }
    allocations_per_read(state, before);
}

// --fit's box of a whole series: 1011 files of the sample series, or of max-size meshes.
void BM_fit_extent(benchmark::State &state, const char *series)
{
    for (auto _ : state) {
        Extent e = range_extent(series, Range{});
        benchmark::DoNotOptimize(e.xmax);
    }
}

} // namespace

BENCHMARK_CAPTURE(BM_fit_extent, sample, "series/sample")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK_CAPTURE(BM_fit_extent, max_size, "series/max")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_read_res)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly();
BENCHMARK(BM_fscanf_reader)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly();

int main(int argc, char **argv)
{
    TempDir dir;
    write_max_size_file(dir.path);
    if (mkdir((dir.path + "/series").c_str(), 0755) != 0 ||
        !write_both_series(dir.path + "/series") || chdir(dir.path.c_str()) != 0)
        return 1;
    // Interleave the repetitions of both readers, so a slow spell of a shared machine falls on
    // both alike and the ratio holds.
    std::vector<char *> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int nargs = (int)args.size();
    benchmark::Initialize(&nargs, args.data());
    MedianReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    double real = rep.ms("BM_read_res"), base = rep.ms("BM_fscanf_reader");
    double allocs = rep.counter("BM_read_res", "allocs/read");
    if (real > 0 && base > 0) {
        print_figure("read a max-size file: read_res", real, "ms");
        print_figure("read a max-size file: fscanf reader (baseline)", base, "ms");
        print_figure("reader speed-up over the fscanf reader", base / real, "x");
        print_figure("heap allocations per read_res (the open file)", allocs, "");
    }
    print_figure("resview --fit, added to the first frame: sample series",
                 rep.ms("BM_fit_extent/sample"), "ms");
    print_figure("resview --fit, added to the first frame: 1011 max-size files",
                 rep.ms("BM_fit_extent/max_size"), "ms");
    return chdir("/") == 0 ? 0 : 1;
}
