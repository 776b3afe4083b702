#include "bench/bench_support.h"

#include "tests/support/child.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

// Counting wrappers around glibc's allocator.
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);

static std::size_t n_alloc;

void *malloc(std::size_t n)
{
    ++n_alloc;
    return __libc_malloc(n);
}
void *calloc(std::size_t n, std::size_t size)
{
    ++n_alloc;
    return __libc_calloc(n, size);
}
void *realloc(void *p, std::size_t n)
{
    ++n_alloc;
    return __libc_realloc(p, n);
}
}

std::size_t heap_allocations()
{
    return n_alloc;
}

void write_max_size_file(const std::string &dir)
{
    Outcome o = run_program({SAMPLE_SERIES_EXE, "--max-size", "--last", "1", dir}, dir);
    if (o.status != 0)
        throw std::runtime_error("cannot write the max-size file: " + o.err);
}

MedianReporter::MedianReporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}

void MedianReporter::ReportRuns(const std::vector<Run> &runs)
{
    for (const auto &r : runs)
        if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
            medians_[r.run_name.function_name] = r;
    ConsoleReporter::ReportRuns(runs);
}

double MedianReporter::ms(const std::string &name) const
{
    auto it = medians_.find(name);
    if (it == medians_.end())
        return -1;
    const Run &r = it->second;
    return r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e3;
}

double MedianReporter::counter(const std::string &name, const std::string &counter) const
{
    auto it = medians_.find(name);
    if (it == medians_.end() || !it->second.counters.count(counter))
        return -1;
    return it->second.counters.at(counter);
}

void print_figure(const char *what, double value, const char *unit)
{
    std::printf("| %-52s | %10.3f %-4s |\n", what, value, unit);
}

bool write_both_series(const std::string &top)
{
    for (const auto &args :
         {std::vector<std::string>{SAMPLE_SERIES_EXE, top + "/sample"},
          std::vector<std::string>{SAMPLE_SERIES_EXE, "--max-size", top + "/max"}}) {
        Outcome o = run_program(args, top);
        if (o.status != 0) {
            std::fprintf(stderr, "cannot write a series: %s", o.err.c_str());
            return false;
        }
    }
    return true;
}

double run_seconds(const std::vector<std::string> &args, const std::string &cwd, int want)
{
    sync();
    double t0 = now_ms();
    Outcome o = run_program(args, cwd, {"DISPLAY"}, 600000);
    if (o.status != want) {
        std::fprintf(stderr, "%s failed:\n%s", args[0].c_str(), o.err.c_str());
        return -1;
    }
    return (now_ms() - t0) / 1e3;
}
