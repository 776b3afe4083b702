// What a run tells the person who started it: a progress line redrawn in place while standard
// error is a terminal, the line of each file that cannot be read, notes, and one summary line.
#pragma once

#include "resfile/res_file.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class RunReport
{
  public:
    // program names the lines; verb says what became of a file ("N rendered"); rate_unit is the
    // progress line's ("frames/s").
    RunReport(const char *program, const char *verb, const char *rate_unit);

    const char *program() const
    {
        return program_;
    }
    const char *verb() const
    {
        return verb_;
    }

    // Starts the clock, and the progress line if standard error is a terminal.
    void start();
    // Seconds since start.
    double seconds() const;

    // Where the line of a file that cannot be read goes: standard error, unless set.
    void set_faults(std::FILE *to)
    {
        faults_ = to;
    }
    // The output of file n is written: each index counts once, however often it is written.
    // Safe from any thread.
    void wrote(int n);
    // An output that holds every file is not written after all: none counts.
    void wrote_none();
    // Files whose outputs are written.
    int written() const;

    // A file's fault line on the faults stream, flushed, after wiping the progress line.
    void fault(const std::string &line);
    // "PROGRAM: what" on standard error, after wiping the progress line.
    void note(const std::string &what);
    // Redraws the progress line after file n, the done-th of total, with the files gone through a
    // second, at most ten times a second.
    void progress(int done, int total, int n);

  private:
    void clear_line() const;

    const char *program_;
    const char *verb_;
    const char *rate_unit_;
    std::FILE *faults_ = stderr;
    bool tty_ = false;  // standard error is a terminal
    double shown_ = -1; // when the progress line was last drawn, seconds into the run
    mutable std::mutex m_;
    std::vector<bool> wrote_ = std::vector<bool>(FILE_INDEX_MAX + 1); // by index, under m_
    int written_ = 0;                                                 // under m_
    std::chrono::steady_clock::time_point t0_ = std::chrono::steady_clock::now();
};
