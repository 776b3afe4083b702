// The skeleton every program that goes through a series runs on: its command line (its own options
// and the shared ones), the checks before a run, the run through the series loop, the count of
// the outputs written, and the end: the summary line and the exit status, which main returns
// through exit_status_or_signal (stop_signals.h), so that a stopped run ends by its signal.
#pragma once

#include "tools/common/run_report.h"
#include "tools/common/series_loop.h"
#include "util/command_line.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Names a program and its work in its lines: "resrender: 3 rendered, ... 120 frames/s".
struct ToolInfo {
    const char *program;
    const char *verb;
    const char *rate_unit = "files/s";
    // The series folders a run takes: 1, DIR, which may be left out (the working directory); or
    // 2, REFERENCE and CANDIDATE, both needed, the loop going through the second.
    std::size_t folders = 1;
    // The exit status of a run whose output could not be written (diff(1)'s "trouble" is 2).
    int failure_status = 1;
};

class SeriesTool
{
  public:
    explicit SeriesTool(ToolInfo info);
    SeriesTool(const SeriesTool &) = delete;
    SeriesTool &operator=(const SeriesTool &) = delete;

    // Reads the command line by the program's own options and the shared ones (--first, --last,
    // --every, --follow, --poll, --idle), then check, which returns what is wrong with the options
    // taken together, given the series folder ("" when nothing is). Then the range and the series
    // folder are checked, the stop signals caught and the clock started. True to go on; otherwise
    // the usage or the error has been printed and exit_status() says how to end: 0 after --help,
    // 2 for a usage error (one line, and where to see the usage), 1 for a series folder that
    // cannot be read.
    bool start(int argc, char **argv, const std::vector<Option> &own, const std::string &usage,
               const std::function<std::string(const char *dir)> &check = {});
    int exit_status() const
    {
        return status_;
    }

    RunReport &report()
    {
        return report_;
    }
    SeriesLoop &loop()
    {
        return *loop_;
    }
    const SeriesLoop &loop() const
    {
        return *loop_;
    }
    const char *dir() const
    {
        return dir_;
    }
    // Every series folder given, in order (the loop's is the last).
    const std::vector<const char *> &dirs() const
    {
        return dirs_;
    }
    bool following() const
    {
        return follow_.on;
    }

    // Runs the series loop; a failed step's error is kept as the run's failure.
    void run(const FileStep &step, const std::function<Status()> &first_pass_done = {});

    // Records why an output could not be written, unless an earlier failure already says so.
    void fail(const Status &s);
    const std::string &failure() const
    {
        return failure_;
    }
    // The run went through its range: nothing failed, no signal stopped it, and at least one file
    // was handed on.
    bool whole() const;

    // The output of file n is written; each index counts once. Safe from any thread.
    void wrote(int n)
    {
        report_.wrote(n);
    }
    // An output that holds every file is not written after all: none counts.
    void wrote_none()
    {
        report_.wrote_none();
    }

    // Ends the run of a program that writes outputs: "PROGRAM: failure" when one could not be
    // written, a line when no file of the range was present, then "PROGRAM: N VERB in S s, N
    // missing, N broken, A-B not written; WHERE" (with the signal that stopped or ended it),
    // where the gaps are missing and the indices after the last file present are not written.
    // Returns the exit status: 0 when every present file was written and one was present, 1
    // otherwise, 128 + the signal that stopped the run.
    int end(const std::string &where);

    // Ends the run of a program whose report is its own: "PROGRAM: failure", and "PROGRAM:
    // stopped by SIGINT after N files" when a signal stopped it. Returns 128 + that signal, the
    // failure status after a failure, else status.
    int end_with(int status);

    // "PROGRAM: no result file of 0..1010 is present in DIR", and what DIR holds instead when its
    // files are named like results in another way.
    void note_none_present();

  private:
    std::vector<Option> shared_options();

    ToolInfo info_;
    RunReport report_;
    Range range_;
    FollowSettings follow_;
    const char *dir_ = nullptr;
    std::vector<const char *> dirs_;
    std::unique_ptr<SeriesLoop> loop_;
    std::string failure_;
    int status_ = 0;
};
