// Shared by the benchmarks: a max-size result file, a count of heap allocations made by the
// process, and the table of figures.
#pragma once

#include <benchmark/benchmark.h>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

// Writes res0000.inp and res0001.inp into dir, each holding the largest mesh a file may hold
// (4999 nodes, 4999 triangles, coordinates written like %.6e). Throws if it cannot.
void write_max_size_file(const std::string &dir);

// Writes the sample series into top/sample and the max-size one into top/max, 1011 files each.
// False after saying why on standard error.
bool write_both_series(const std::string &top);

// Runs a program in cwd to its end, DISPLAY unset, after a sync so that what earlier runs wrote
// is on disk; its wall time in seconds, or -1 after saying on standard error that it did not end
// with status want.
double run_seconds(const std::vector<std::string> &args, const std::string &cwd, int want = 0);

// Heap allocations (malloc, calloc, realloc, operator new) since the process started.
std::size_t heap_allocations();

// Prints the usual table and remembers each benchmark's median, for the summary lines.
class MedianReporter : public benchmark::ConsoleReporter
{
  public:
    // Colours only on a terminal, so logs and pipes get plain text.
    MedianReporter();
    void ReportRuns(const std::vector<Run> &runs) override;
    // Median real time of a benchmark in milliseconds, or -1 if it did not run.
    double ms(const std::string &name) const;
    // Median of one of a benchmark's counters, or -1.
    double counter(const std::string &name, const std::string &counter) const;

  private:
    std::map<std::string, Run> medians_;
};

// One line of the figures table: "| what | value unit |".
void print_figure(const char *what, double value, const char *unit);
