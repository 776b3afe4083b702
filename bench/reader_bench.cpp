// The reader on a max-size result file, against a reader that takes the same steps with fscanf.
#include "bench_support.h"
#include "res_file.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>

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

// Remembers each benchmark's median time per read so the ratio can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter
{
  public:
    std::map<std::string, double> ms;
    double allocs = -1;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const auto &r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                ms[r.run_name.function_name] =
                    r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e3;
        for (const auto &r : runs)
            if (r.run_name.function_name == "BM_read_res" && r.aggregate_name == "median" &&
                r.counters.count("allocs/read"))
                allocs = r.counters.at("allocs/read");
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

BENCHMARK(BM_read_res)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly();
BENCHMARK(BM_fscanf_reader)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly();

int main(int argc, char **argv)
{
    std::string dir = make_max_size_dir();
    if (chdir(dir.c_str()) != 0)
        return 1;
    benchmark::Initialize(&argc, argv);
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    double real = rep.ms["BM_read_res"], base = rep.ms["BM_fscanf_reader"];
    double allocs = rep.allocs;
    if (real > 0 && base > 0) {
        std::printf("| read max-size file (read_res)         | %8.3f ms |\n", real);
        std::printf("| read max-size file (fscanf baseline)  | %8.3f ms |\n", base);
        std::printf("| reader speed-up over fscanf           | %8.1f x  |\n", base / real);
        std::printf("| heap allocations per read (read_res)  | %8.0f    |\n", allocs);
    }
    std::string cmd = "rm -rf '" + dir + "'";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
