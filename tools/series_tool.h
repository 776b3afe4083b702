// What the programs beside the viewer share: one command line read without the locale, and one
// loop through a series that owns its rules (the range, a missing file skipped, a file that cannot
// be read or is malformed named by the viewer's own line, a progress line on a terminal, one
// summary line, the exit status and the stop signals).
#pragma once

#include "res_file.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// What an option takes. A NUMBER may begin with '-' ("--tx -0.5"); a PATH given as the next
// argument may not, so that "--gif --png" is refused instead of naming a file "--png"
// ("--gif=--png" names one).
enum class Takes { NOTHING, NUMBER, TEXT, PATH };

// One option: "--name value" or "--name=value", or a flag that takes nothing.
struct Option {
    const char *name;
    Takes takes;
    std::function<bool(const char *value)> take; // false when the value is not valid
};

// How a command line was read.
struct CommandLine {
    int status = -1;           // -1 go on; 0 after -h or --help; 2 for a usage error
    std::string error;         // what is wrong with it, for status 2
    const char *dir = nullptr; // the one argument that is not an option, if any
};

// Reads argv by opts. "--" ends the options; "-h" and "--help" ask for the usage; at most one
// other argument (the directory) is taken. Prints nothing.
CommandLine read_command_line(int argc, char **argv, const std::vector<Option> &opts);

// The same, printing the usage on standard output for --help, or "PROGRAM: error" and the usage
// on standard error. Returns -1 to go on, otherwise the exit status (0 or 2).
int parse_command_line(int argc, char **argv, const char *program, const char *usage,
                       const std::vector<Option> &opts, const char **dir);

// A whole decimal integer within lo..hi.
bool parse_int(const char *s, int lo, int hi, int *v);
// A whole finite decimal number, with an optional leading '+'.
bool parse_number(const char *s, double *v);

// Prints "PROGRAM: what" and the usage on standard error; returns 2, the usage-error status.
int usage_error(const char *program, const char *usage, const std::string &what);

// What became of each index of a run.
enum class FileState : char { UNSEEN, MISSING, GOOD, BROKEN };

// One run through the indices first, first + every, ... up to last.
struct SeriesRun {
    const char *program = "";
    const char *verb = "done";         // "N VERB" in the summary: what happened to a file
    const char *rate_unit = "files/s"; // for the progress line
    const char *dir = nullptr;         // the series; nullptr for the working directory
    int first = 0;
    int last = FILE_INDEX_MAX;
    int every = 1;
    std::FILE *faults = stderr; // where the line of a file that cannot be read goes
    bool tty = false;           // standard error is a terminal: a progress line is redrawn in place
    int done = 0;               // indices looked at
    int present = 0;            // files found (read or not)
    int written = 0;            // files turned into output
    int missing = 0;
    int broken = 0;
    FileState state[FILE_INDEX_MAX + 1] = {};
    bool follow = false; // after the range, handle its files as they are written
    double poll = 0;     // seconds over which an unchanged file counts as complete, for file
                         // systems without events; 0: inotify's events
    double idle = 0;     // a follow ends after this many seconds without a complete file; 0: never
    std::string failure; // why an output could not be written; the run stopped there
    int signal = 0;      // the signal that stopped the run, 0 if none
    int ended_by = 0;    // the signal that ended a follow: its normal end, not a stop
    std::chrono::steady_clock::time_point t0;
    double shown = -1; // when the progress line was last drawn, seconds into the run
};

// --first, --last and --every, into run.
std::vector<Option> range_options(SeriesRun *run);

// --follow, --poll SECONDS and --idle SECONDS, into run.
std::vector<Option> follow_options(SeriesRun *run);

// Starts a run: checks the range and the series directory, catches the stop signals and starts
// the clock. Returns -1 to go on, 2 (a usage error) for a range whose first comes after its last,
// 1 for a series directory that cannot be read.
int start_run(SeriesRun *run, const char *usage);

// What a tool does with one loaded file: false when an output could not be written, with the
// reason in run->failure.
using FileStep = std::function<bool(int n, const Mesh &mesh)>;

// Loads each file of the range in order and hands it to step. A missing file counts as missing;
// one that cannot be read or is malformed counts as broken, with its line on run->faults. Stops
// early when step fails, or after the file at hand once SIGINT, SIGTERM or SIGHUP arrives
// (run->signal). True when the whole range was gone through.
//
// With run->follow it then keeps watching the series directory and hands each file of the range
// to step again once it is complete: closed after writing or renamed into place (inotify), or,
// with run->poll, unchanged in size and time for that long. A file found malformed while a writer
// may still hold it is not reported until it is complete. The follow ends, as a normal end, on a
// stop signal (run->ended_by), after run->idle seconds without a complete file, or once every
// index of the range is well formed; the counts then say what each index came to.
// first_pass_done, if given, is called once while following, when the files present have been
// through step and before the watching starts; false ends the run as a failed step does.
bool run_series(SeriesRun *run, const FileStep &step,
                const std::function<bool()> &first_pass_done = {});

// Blocks the stop signals in the calling thread (and in threads it starts from then on) and
// returns the mask before, for restore_signals: a worker thread must leave them to the thread
// that follows the series.
sigset_t block_stop_signals();
void restore_signals(const sigset_t &mask);

// The signal that asked the process to stop since start_run, or 0.
int stop_signal();

// "SIGINT" for SIGINT.
std::string signal_name(int sig);

// Makes the output directory dir (and its parents) if it is missing; false after saying why on
// standard error.
bool make_output_dir(const SeriesRun *run, const std::string &dir);

// The output file for result file n: its name with ext for ".inp" (res01000.inp -> res01000.png).
std::string output_name(int n, const char *ext);

// Ends the run: "PROGRAM: failure" when an output could not be written, a line when no file of
// the range was present, then the summary "PROGRAM: N VERB, N missing, N broken in S s; WHERE"
// (with the signal when one stopped the run). Returns the exit status: 0 when every present file
// was written and one was present, 1 otherwise, 128 + the signal when one stopped the run.
int finish_run(SeriesRun *run, const std::string &where);

// Ends the process by the signal that stopped the run, its default action restored, so that the
// shell that started it sees the interrupt (and reports 128 + the signal). Output is flushed first.
[[noreturn]] void end_by_signal(int sig);
