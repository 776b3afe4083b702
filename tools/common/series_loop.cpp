#include "tools/common/series_loop.h"

#include "tools/common/stop_signals.h"
#include "util/clock.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <dirent.h>
#include <mutex>
#include <thread>

// File n as the reader found it.
struct SeriesLoop::Loaded {
    Signature sig; // the content read, while following
    LoadResult r;
    Mesh mesh;
};

// The first pass's files, read by a second thread a few ahead of the one being handled.
struct SeriesLoop::ReadAhead {
    static constexpr int SLOTS = 2;
    Loaded slot[SLOTS];
    int loaded = 0; // files of the pass read so far
    int taken = 0;  // files of the pass handled so far
    bool quit = false;
    std::mutex m;
    std::condition_variable cv;
};

SeriesLoop::SeriesLoop(const char *dir, Range range, FollowSettings follow, RunReport *report)
    : dir_(dir), range_(range), follow_(follow), report_(report), state_(FILE_INDEX_MAX + 1),
      faults_(FILE_INDEX_MAX + 1)
{
}

SeriesLoop::~SeriesLoop() = default;

void SeriesLoop::load(int n, Loaded *l) const
{
    l->sig = watcher_ ? watcher_->signature(n) : Signature{};
    l->r = load_res(dir_, n, &l->mesh, nonfinite_);
}

// Hands loaded file n on, or says why it did not load. complete: no writer may still hold the
// file, so a malformed one is reported (once for each content); otherwise it waits.
Status SeriesLoop::hand_on(int n, const Loaded &l, bool complete, const FileStep &step)
{
    const LoadResult &r = l.r;
    FileState &st = state_[(std::size_t)n];
    if (r.status == LoadStatus::MISSING) {
        if (st != FileState::GOOD)
            st = FileState::MISSING; // a gap, or a file not written yet
        return Status();
    }
    if (r.status == LoadStatus::LOADED) {
        st = FileState::GOOD;
        if (watcher_)
            watcher_->taken(n, l.sig);
        return step(n, l.mesh);
    }
    if (!complete) {
        watcher_->set_pending(n, true);
        return Status();
    }
    faults_[(std::size_t)n] = load_failure_text(r);
    if (!watcher_ || !watcher_->was_taken(n, l.sig))
        report_->fault(faults_[(std::size_t)n]);
    st = r.status == LoadStatus::CANNOT_OPEN || r.status == LoadStatus::UNREADABLE
             ? FileState::UNREADABLE
             : FileState::BROKEN;
    if (watcher_)
        watcher_->taken(n, l.sig);
    return Status();
}

Status SeriesLoop::first_pass(const FileStep &step)
{
    // Reading the next file overlaps handling this one. The reader leaves the stop signals to
    // this thread.
    auto ra = std::make_unique<ReadAhead>();
    sigset_t mask = block_stop_signals();
    std::thread reader([this, &ra] {
        for (int n = range_.first, k = 0; n <= range_.last; n += range_.every, ++k) {
            {
                std::unique_lock<std::mutex> lock(ra->m);
                ra->cv.wait(lock,
                            [&ra, k] { return k - ra->taken < ReadAhead::SLOTS || ra->quit; });
                if (ra->quit)
                    return;
            }
            load(n, &ra->slot[k % ReadAhead::SLOTS]);
            std::lock_guard<std::mutex> lock(ra->m);
            ++ra->loaded;
            ra->cv.notify_all();
        }
    });
    restore_signals(mask);
    // The progress counts up to the last file present when the pass starts, or a later one
    // found on the way; the indices after it only say they are not written yet.
    int last = last_listed();
    Status s;
    for (int n = range_.first, k = 0; s.ok() && n <= range_.last; n += range_.every, ++k) {
        if (stop_signal() != 0 || end_requested_)
            break;
        ++done_;
        {
            std::unique_lock<std::mutex> lock(ra->m);
            ra->cv.wait(lock, [&ra, k] { return ra->loaded > k; });
        }
        // While following, a malformed file may be one still being written.
        s = hand_on(n, ra->slot[k % ReadAhead::SLOTS], !follow_.on, step);
        if (state(n) != FileState::MISSING)
            last = std::max(last, n);
        if (n <= last)
            report_->progress(done_, (last - range_.first) / range_.every + 1, n);
        std::lock_guard<std::mutex> lock(ra->m);
        ++ra->taken;
        ra->cv.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(ra->m);
        ra->quit = true;
        ra->cv.notify_all();
    }
    reader.join();
    return s;
}

Status SeriesLoop::take(int n, const FileStep &step)
{
    auto l = std::make_unique<Loaded>();
    load(n, l.get());
    return hand_on(n, *l, true, step);
}

bool SeriesLoop::all_good() const
{
    for (int n = range_.first; n <= range_.last; n += range_.every)
        if (state(n) != FileState::GOOD)
            return false;
    return true;
}

// Follows the series after the first pass.
Status SeriesLoop::follow_files(const FileStep &step)
{
    double last_complete = clock_seconds();
    sigset_t open_mask = block_stop_signals();
    Status s;
    std::vector<int> complete;
    while (s.ok() && stop_signal() == 0 && !end_requested_ && !all_good()) {
        double idle_left = follow_.idle > 0 ? last_complete + follow_.idle - clock_seconds() : 1e6;
        if (idle_left <= 0)
            break;
        s = watcher_->wait(idle_left, open_mask, &complete);
        for (std::size_t i = 0; s.ok() && !end_requested_ && i < complete.size(); ++i) {
            s = take(complete[i], step);
            last_complete = clock_seconds();
        }
    }
    restore_signals(open_mask);
    // What is still waiting is what it is at the end.
    for (int n : watcher_->pending())
        if (s.ok() && !end_requested_)
            s = take(n, step);
    return s;
}

Status SeriesLoop::run(const FileStep &step, const std::function<Status()> &first_pass_done)
{
    std::fill(state_.begin(), state_.end(), FileState::UNSEEN);
    std::fill(faults_.begin(), faults_.end(), std::string());
    done_ = stopped_by_ = ended_by_ = 0;
    end_requested_ = false;
    if (follow_.on) {
        // Watching from before the first pass: a file that lands while it runs is followed.
        watcher_ = std::make_unique<FollowWatcher>(dir_, range_, follow_.poll);
        Status note = watcher_->start();
        if (!note.ok())
            report_->note(note.message());
    }
    Status s = first_pass(step);
    if (s.ok() && follow_.on && first_pass_done)
        s = first_pass_done();
    if (s.ok() && follow_.on && stop_signal() == 0 && !end_requested_)
        s = follow_files(step);
    watcher_.reset();
    // A stop signal is how a follow ends; otherwise it stops the run short.
    (follow_.on ? ended_by_ : stopped_by_) = stop_signal();
    return s;
}

int SeriesLoop::count(FileState s, int last) const
{
    int k = 0;
    for (int n = range_.first; n <= std::min(last, range_.last); n += range_.every)
        k += state(n) == s;
    return k;
}

int SeriesLoop::last_present() const
{
    int last = -1;
    for (int n = range_.first; n <= range_.last; n += range_.every)
        if (is_present(state(n)))
            last = n;
    return last;
}

// The last index of the range whose name is in the folder now, or -1.
int SeriesLoop::last_listed() const
{
    int last = -1;
    DIR *d = opendir(dir_ ? dir_ : ".");
    for (dirent *e = d ? readdir(d) : nullptr; e; e = readdir(d)) {
        const int n = res_file_index(e->d_name);
        if (n >= 0 && range_.contains(n))
            last = std::max(last, n);
    }
    if (d)
        closedir(d);
    return last;
}

std::string SeriesLoop::unwritten() const
{
    int first = -1, last = -1;
    for (int n = range_.first; n <= range_.last; n += range_.every) {
        if (is_present(state(n)))
            first = last = -1;
        else if (state(n) == FileState::MISSING)
            (first < 0 ? first : last) = n;
    }
    if (first < 0)
        return "";
    return last < 0 ? std::to_string(first) : std::to_string(first) + "-" + std::to_string(last);
}

int SeriesLoop::present() const
{
    return count(FileState::GOOD) + count(FileState::BROKEN) + count(FileState::UNREADABLE);
}

int SeriesLoop::missing() const
{
    return count(FileState::MISSING, last_present());
}

int SeriesLoop::broken() const
{
    return count(FileState::BROKEN);
}

int SeriesLoop::unreadable() const
{
    return count(FileState::UNREADABLE);
}

int SeriesLoop::good() const
{
    return count(FileState::GOOD);
}
