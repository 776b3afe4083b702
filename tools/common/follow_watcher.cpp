#include "tools/common/follow_watcher.h"

#include "util/clock.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr std::size_t SLOTS = FILE_INDEX_MAX + 1;

} // namespace

Signature Signature::of(const std::string &path)
{
    struct stat st;
    Signature sig;
    if (stat(path.c_str(), &st) == 0) {
        sig.exists = true;
        sig.dev = st.st_dev;
        sig.ino = st.st_ino;
        sig.size = st.st_size;
        sig.mtime_s = (long)st.st_mtim.tv_sec;
        sig.mtime_ns = (long)st.st_mtim.tv_nsec;
    }
    return sig;
}

bool operator==(const Signature &a, const Signature &b)
{
    return a.exists == b.exists && a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
           a.mtime_s == b.mtime_s && a.mtime_ns == b.mtime_ns;
}

FollowWatcher::FollowWatcher(const char *dir, Range range, double poll_s)
    : dir_(dir ? dir : "."), range_(range), poll_s_(poll_s), settle_s_(poll_s > 0 ? poll_s : 1.0),
      // A file is seen complete at most two looks after it has rested for the settling time.
      look_s_(std::min(settle_s_ / 4, 0.04)), taken_(SLOTS), seen_(SLOTS), since_(SLOTS, 0.0),
      pending_(SLOTS, false)
{
}

FollowWatcher::~FollowWatcher()
{
    if (fd_ >= 0)
        close(fd_);
}

Signature FollowWatcher::signature(int n) const
{
    return Signature::of(dir_ + "/" + res_file_name(n));
}

void FollowWatcher::taken(int n, const Signature &sig)
{
    taken_[(std::size_t)n] = sig;
    pending_[(std::size_t)n] = false;
}

bool FollowWatcher::was_taken(int n, const Signature &sig) const
{
    return taken_[(std::size_t)n] == sig;
}

void FollowWatcher::set_pending(int n, bool pending)
{
    pending_[(std::size_t)n] = pending;
}

std::vector<int> FollowWatcher::pending() const
{
    std::vector<int> files;
    for (int n = range_.first; n <= range_.last; n += range_.every)
        if (pending_[(std::size_t)n])
            files.push_back(n);
    return files;
}

Status FollowWatcher::start()
{
    Status s;
    if (poll_s_ == 0) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0 || inotify_add_watch(fd_, dir_.c_str(),
                                         IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_CREATE |
                                             IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
            s = Status::error("cannot watch " + dir_ + " (" + std::strerror(errno) +
                              "); looking every second instead");
            if (fd_ >= 0)
                close(fd_);
            fd_ = -1;
            poll_s_ = settle_s_ = 1.0;
            look_s_ = std::min(settle_s_ / 4, 0.04);
        }
    }
    double t = clock_seconds();
    for (int n = range_.first; n <= range_.last; n += range_.every) {
        seen_[(std::size_t)n] = signature(n);
        since_[(std::size_t)n] = t;
    }
    return s;
}

// The files that events say were closed after writing or renamed into place. A writer at work on
// a file makes a pending one wait on.
Status FollowWatcher::read_events(double now, std::vector<bool> *closed)
{
    Status s;
    alignas(inotify_event) char buf[16384];
    ssize_t len = 0;
    while (fd_ >= 0 && (len = read(fd_, buf, sizeof buf)) > 0) {
        for (char *at = buf; at < buf + len;) {
            const auto *ev = reinterpret_cast<const inotify_event *>(at);
            at += sizeof(inotify_event) + ev->len;
            if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                s = gone();
                continue;
            }
            int n = ev->len ? res_file_index(ev->name) : -1;
            if (n < 0 || !range_.contains(n))
                continue;
            if (ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO))
                (*closed)[(std::size_t)n] = true;
            since_[(std::size_t)n] = now;
        }
    }
    return s;
}

Status FollowWatcher::gone() const
{
    return Status::not_found(dir_ + " is gone; the follow ends");
}

// Marks the result files the folder holds: only those are worth a stat when polling. An error when
// the folder is gone: removed, or renamed away.
Status FollowWatcher::list_names(std::vector<bool> *listed) const
{
    DIR *d = opendir(dir_.c_str());
    if (!d)
        return errno == ENOENT || errno == ENOTDIR ? gone() : Status();
    while (const dirent *e = readdir(d)) {
        int n = res_file_index(e->d_name);
        if (n >= 0)
            (*listed)[(std::size_t)n] = true;
    }
    closedir(d);
    return Status();
}

Status FollowWatcher::wait(double limit_s, const sigset_t &open_mask, std::vector<int> *complete)
{
    complete->clear();
    bool any_pending = std::find(pending_.begin(), pending_.end(), true) != pending_.end();
    double wait = std::min(fd_ < 0 || any_pending ? look_s_ : 1e6, limit_s);
    timespec ts{(time_t)wait, (long)((wait - (double)(time_t)wait) * 1e9)};
    pollfd p{fd_, POLLIN, 0};
    ppoll(&p, fd_ < 0 ? 0 : 1, &ts, &open_mask);
    double t = clock_seconds();
    std::vector<bool> closed(SLOTS, false), listed(SLOTS, fd_ >= 0);
    Status s = fd_ < 0 ? list_names(&listed) : read_events(t, &closed);
    if (!s.ok())
        return s;
    for (int n = range_.first; n <= range_.last; n += range_.every) {
        const auto k = (std::size_t)n;
        // A file closed again as it was handled (in the first pass, which the watching
        // overlaps) is not complete again.
        bool done = closed[k] && !(signature(n) == taken_[k]);
        if (fd_ < 0 || pending_[k]) {
            // Complete once unchanged for the settling time, and not taken as it is.
            Signature sig = listed[k] ? signature(n) : Signature{};
            if (!(sig == seen_[k])) {
                seen_[k] = sig;
                since_[k] = t;
            } else if (sig.exists && t - since_[k] >= settle_s_ && !(sig == taken_[k])) {
                done = true;
            }
        }
        if (done)
            complete->push_back(n);
    }
    return Status();
}
