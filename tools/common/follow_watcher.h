// Watching a series folder while a simulation writes it: which files of the range are complete,
// closed after writing or renamed into place (inotify's events), or, on file systems without
// events, unchanged in size and time for a settling time (polling). A file found malformed while
// a writer may still hold it waits (is pending) until it is complete.
#pragma once

#include "resfile/range.h"
#include "util/status.h"

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

// One content of a file: a rewrite or a rename into place gives another.
struct Signature {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long mtime_s = 0;
    long mtime_ns = 0;

    // The content of the file at path now.
    static Signature of(const std::string &path);
};

bool operator==(const Signature &a, const Signature &b);

class FollowWatcher
{
  public:
    // Watches dir (nullptr: the working directory) for the files of range; poll_s > 0 polls with
    // that settling time instead of using events.
    FollowWatcher(const char *dir, Range range, double poll_s);
    ~FollowWatcher();
    FollowWatcher(const FollowWatcher &) = delete;
    FollowWatcher &operator=(const FollowWatcher &) = delete;

    // The content of file n now.
    Signature signature(int n) const;

    // File n's content sig was handed on or reported: it is not complete again until it changes.
    void taken(int n, const Signature &sig);
    bool was_taken(int n, const Signature &sig) const;
    // File n read malformed while a writer may still hold it: it is looked at until it rests.
    void set_pending(int n, bool pending);
    // The pending files, in series order.
    std::vector<int> pending() const;

    // Starts watching, before the files present are handled, so that a file that lands while
    // they are is followed. Where the folder cannot be watched it polls every second instead,
    // and the error says so (the watching goes on).
    Status start();

    // Sleeps until an event, the next look at the files or limit_s seconds, with the stop signals
    // open (open_mask) during the sleep only; then gives the files of the range that are complete
    // now, in series order. An error when the folder is gone (removed or renamed away), with
    // events and when polling alike.
    Status wait(double limit_s, const sigset_t &open_mask, std::vector<int> *complete);

  private:
    Status read_events(double now, std::vector<bool> *closed);
    Status list_names(std::vector<bool> *listed) const;
    Status gone() const;

    std::string dir_;
    Range range_;
    double poll_s_;
    double settle_s_; // how long a pending file (or any, when polling) must rest, seconds
    double look_s_;   // how often the files are looked at when they must be, seconds
    int fd_ = -1;     // inotify, or -1 when polling
    std::vector<Signature> taken_; // by index: the content last handed on or reported
    std::vector<Signature> seen_;  // the content seen last, and since when
    std::vector<double> since_;
    std::vector<bool> pending_;
};
