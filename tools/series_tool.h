// What resrender and res2vtk share: a command line of options read without the locale, and the
// series rules of a run (a missing file skipped, a malformed one skipped with the viewer's own
// line, a progress line on a terminal, one summary line, the exit status).
#pragma once

#include "res_file.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// One option: "--name value", "--name=value", or a flag without a value.
struct Option {
    const char *name;
    bool has_value;
    std::function<bool(const char *value)> take; // false when the value is not valid
};

// A whole decimal integer within lo..hi.
bool parse_int(const char *s, int lo, int hi, int *v);
// A whole finite decimal number, with an optional leading '+'.
bool parse_number(const char *s, double *v);

// Prints "PROGRAM: what" and the usage on standard error; returns 2, the usage-error status.
int usage_error(const char *program, const char *usage, const std::string &what);

// Reads argv by opts, and at most one other argument into *dir. Returns -1 to go on, 0 after
// printing the usage for --help, 2 after a usage error.
int parse_command_line(int argc, char **argv, const char *program, const char *usage,
                       const std::vector<Option> &opts, const char **dir);

// One run through the indices first, first + every, ... up to last.
struct SeriesRun {
    const char *program = "";
    const char *rate_unit = "files/s"; // for the progress line
    const char *dir = nullptr;         // the series; nullptr for the working directory
    int first = 0;
    int last = FILE_INDEX_MAX;
    int every = 1;
    bool tty = false; // standard error is a terminal: a progress line is redrawn in place
    int done = 0;     // indices looked at
    int written = 0;  // files turned into output
    int missing = 0;
    int broken = 0;
    std::chrono::steady_clock::time_point t0;
    double shown = -1; // when the progress line was last drawn, seconds into the run
};

// --first, --last and --every, into run.
std::vector<Option> range_options(SeriesRun *run);

// Starts the clock. Returns -1 to go on, 2 (a usage error) for a range whose first comes after its
// last, 1 for a series directory that cannot be read.
int start_run(SeriesRun *run, const char *usage);

// Loads file n into *mesh and says whether it loaded. A missing file counts as missing; any other
// failure counts as broken, with its line on standard error.
bool load_next(SeriesRun *run, int n, Mesh *mesh);

// Redraws the progress line after file n, at most ten times a second.
void show_progress(SeriesRun *run, int n);

// Makes the output directory dir if it is missing; false after saying why on standard error.
bool make_output_dir(const SeriesRun *run, const std::string &dir);

// The output file for result file n: its name with ext for ".inp" (res01000.inp -> res01000.png).
std::string output_name(int n, const char *ext);

// Ends the run: "PROGRAM: failure" when an output could not be written (failure not nullptr),
// then the summary line "PROGRAM: N VERB, N missing, N broken in S s; WHERE". Returns the exit
// status: 0 when every present file was written and one was present, 1 otherwise.
int finish_run(SeriesRun *run, const char *verb, const char *failure, const std::string &where);
