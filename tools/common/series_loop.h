// One loop through a series that owns its rules: the range, a missing file skipped, a file that
// cannot be read or is malformed named by the viewer's own line, the next file read while this
// one is handled, the stop signals, and, when following, each file of the range again as it is
// written.
#pragma once

#include "resfile/range.h"
#include "tools/common/follow_watcher.h"
#include "tools/common/run_report.h"
#include "util/status.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What became of each index of a run.
// UNREADABLE: it could not be opened or read (EIO and its kin), which says nothing of the file.
enum class FileState : char { UNSEEN, MISSING, GOOD, BROKEN, UNREADABLE };

// There is a file of that index, whatever came of reading it.
inline bool is_present(FileState s)
{
    return s == FileState::GOOD || s == FileState::BROKEN || s == FileState::UNREADABLE;
}

// Following a series while it is written.
struct FollowSettings {
    bool on = false;
    double poll = 0; // seconds over which an unchanged file counts as complete, for file systems
                     // without events; 0: inotify's events
    double idle = 0; // a follow ends after this many seconds without a complete file; 0: never
};

// What a tool does with one loaded file; an error stops the run.
using FileStep = std::function<Status(int n, const Mesh &mesh)>;

class SeriesLoop
{
  public:
    // The series in dir (nullptr: the working directory); lines and progress go to report.
    SeriesLoop(const char *dir, Range range, FollowSettings follow, RunReport *report);
    ~SeriesLoop();
    SeriesLoop(const SeriesLoop &) = delete;
    SeriesLoop &operator=(const SeriesLoop &) = delete;

    // Loads each file of the range in order and hands it to step. A missing file counts as
    // missing; a malformed one (or a directory, FIFO, device or socket of its name) as broken,
    // one that cannot be opened or read as unreadable, each with its line on the report. Stops
    // early when step fails, or after the file at hand once a stop signal arrives (stopped_by). The
    // error is the failed step's.
    //
    // When following, it then keeps watching the folder and hands each file of the range to
    // step again once it is complete. A file found malformed while a writer may still hold it is
    // not reported until it is complete. The follow ends, as a normal end, on a stop signal
    // (ended_by), after the idle time without a complete file, or once every index of the range
    // is well formed. first_pass_done, if given, is called once while following, when the files
    // present have been through step and before the watching starts; an error from it ends the
    // run as a failed step does. A loop may run again; each run starts afresh.
    Status run(const FileStep &step, const std::function<Status()> &first_pass_done = {});

    const char *dir() const
    {
        return dir_;
    }
    const Range &range() const
    {
        return range_;
    }
    const FollowSettings &follow() const
    {
        return follow_;
    }
    FileState state(int n) const
    {
        return state_[(std::size_t)n];
    }
    // Why file n is broken, as its line says it ("file:line: what"); empty unless it is.
    const std::string &fault(int n) const
    {
        return faults_[(std::size_t)n];
    }
    int done() const // indices looked at in the first pass
    {
        return done_;
    }
    int present() const;
    // Indices of the range missing before the last one present: the gaps.
    int missing() const;
    int broken() const;
    int unreadable() const;
    int good() const;
    // The indices of the range after the last one present, which a running simulation has not
    // written yet: "361-1010", "1010", or "" when there are none.
    std::string unwritten() const;
    // Reads non-finite coordinates as they are (NaN, infinities) rather than as malformed: for a
    // comparison of two series, to which a solver's NaN is a difference, not a broken file.
    void keep_nonfinite()
    {
        nonfinite_ = true;
    }
    // Ends the run after the file at hand, from within a step, as a normal end (--stop-at-first).
    void end_after_this()
    {
        end_requested_ = true;
    }
    bool ended_early() const
    {
        return end_requested_;
    }

    // The signal that stopped the run short, 0 if none.
    int stopped_by() const
    {
        return stopped_by_;
    }
    // The signal that ended a follow (its normal end), 0 if none.
    int ended_by() const
    {
        return ended_by_;
    }

  private:
    struct Loaded;
    struct ReadAhead;
    void load(int n, Loaded *l) const;
    Status hand_on(int n, const Loaded &l, bool complete, const FileStep &step);
    Status first_pass(const FileStep &step);
    Status follow_files(const FileStep &step);
    Status take(int n, const FileStep &step);
    bool all_good() const;
    int count(FileState s, int last = FILE_INDEX_MAX) const;
    int last_present() const;
    int last_listed() const;

    const char *dir_;
    Range range_;
    FollowSettings follow_;
    RunReport *report_;
    std::vector<FileState> state_;
    std::vector<std::string> faults_; // by index, of the broken files
    int done_ = 0;
    int stopped_by_ = 0;
    int ended_by_ = 0;
    bool nonfinite_ = false;
    bool end_requested_ = false;
    std::unique_ptr<FollowWatcher> watcher_; // while following
};
