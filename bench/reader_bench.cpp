// The reader on a max-size result file, against a reader that takes the same steps with fscanf.
#include "bench_support.h"
#include "child.h"
#include "read_res.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

} // namespace

BENCHMARK(BM_read_res)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly();
BENCHMARK(BM_fscanf_reader)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly();

int main(int argc, char **argv)
{
    TempDir dir;
    write_max_size_file(dir.path);
    if (chdir(dir.path.c_str()) != 0)
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
    return chdir("/") == 0 ? 0 : 1;
}
