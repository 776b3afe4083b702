#include "series_tool.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

bool parse_int(const char *s, int lo, int hi, int *v)
{
    const char *end = s + std::strlen(s);
    auto c = std::from_chars(s, end, *v);
    return c.ec == std::errc() && c.ptr == end && c.ptr != s && *v >= lo && *v <= hi;
}

bool parse_number(const char *s, double *v)
{
    const char *digits = s + (*s == '+' && s[1] != '-');
    const char *end = s + std::strlen(s);
    auto c = std::from_chars(digits, end, *v);
    return c.ec == std::errc() && c.ptr == end && c.ptr != digits && std::isfinite(*v);
}

int usage_error(const char *program, const char *usage, const std::string &what)
{
    std::fprintf(stderr, "%s: %s\n%s", program, what.c_str(), usage);
    return 2;
}

namespace
{

bool looks_like_option(const char *s)
{
    return s[0] == '-' && s[1] != '\0';
}

CommandLine refuse(std::string error)
{
    CommandLine c;
    c.status = 2;
    c.error = std::move(error);
    return c;
}

} // namespace

CommandLine read_command_line(int argc, char **argv, const std::vector<Option> &opts)
{
    CommandLine cl;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (options && name == "--") {
            options = false;
            continue;
        }
        if (options && (name == "--help" || name == "-h")) {
            cl.status = 0;
            return cl;
        }
        if (!options || !looks_like_option(argv[i])) {
            if (cl.dir)
                return refuse("more than one directory given: " + name);
            cl.dir = argv[i];
            continue;
        }
        const char *value = nullptr;
        std::size_t eq = name.find('=');
        if (eq != std::string::npos) {
            value = argv[i] + eq + 1;
            name.resize(eq);
        }
        const Option *opt = nullptr;
        for (const auto &o : opts)
            if (name == o.name)
                opt = &o;
        if (!opt)
            return refuse("unknown option " + name);
        if (opt->takes == Takes::NOTHING) {
            if (value)
                return refuse(name + " takes no value");
        } else if (!value) {
            if (i + 1 == argc)
                return refuse("a value is missing after " + name);
            value = argv[++i];
            if (opt->takes == Takes::PATH && looks_like_option(value)) {
                std::string why = "a value is missing after " + name;
                why += std::string(" (") + value + " looks like an option; write ";
                why += name + "=" + value + " for a name that begins with '-')";
                return refuse(why);
            }
        }
        if ((value && *value == '\0') || !opt->take(value))
            return refuse("not a valid value for " + name + ": " + (value ? value : ""));
    }
    return cl;
}

int parse_command_line(int argc, char **argv, const char *program, const char *usage,
                       const std::vector<Option> &opts, const char **dir)
{
    CommandLine cl = read_command_line(argc, argv, opts);
    if (cl.status == 0)
        std::fputs(usage, stdout);
    if (cl.status == 2)
        return usage_error(program, usage, cl.error);
    *dir = cl.dir;
    return cl.status;
}

std::vector<Option> range_options(SeriesRun *run)
{
    return {
        {"--first", Takes::NUMBER,
         [run](const char *v) { return parse_int(v, 0, FILE_INDEX_MAX, &run->first); }},
        {"--last", Takes::NUMBER,
         [run](const char *v) { return parse_int(v, 0, FILE_INDEX_MAX, &run->last); }},
        {"--every", Takes::NUMBER,
         [run](const char *v) { return parse_int(v, 1, FILE_INDEX_MAX + 1, &run->every); }},
    };
}

std::vector<Option> follow_options(SeriesRun *run)
{
    const auto seconds = [](const char *v, double *s) {
        return parse_number(v, s) && *s > 0 && *s <= 1e6;
    };
    return {
        {"--follow", Takes::NOTHING, [run](const char *) { return run->follow = true; }},
        {"--poll", Takes::NUMBER, [run, seconds](const char *v) { return seconds(v, &run->poll); }},
        {"--idle", Takes::NUMBER, [run, seconds](const char *v) { return seconds(v, &run->idle); }},
    };
}

namespace
{

volatile std::sig_atomic_t caught = 0;

void on_stop_signal(int sig)
{
    caught = sig;
}

// SIGINT, SIGTERM and SIGHUP only ask the run to stop after the file at hand. A signal that was
// ignored when the program started (a background job's SIGINT) stays ignored.
void catch_stop_signals()
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {
        };
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {
        };
        sa.sa_handler = on_stop_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(sig, &sa, nullptr);
    }
}

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Wipes the progress line, so that a diagnostic or the summary starts on a clean line.
void clear_progress(const SeriesRun *run)
{
    if (run->tty && run->shown >= 0)
        std::fputs("\r\033[K", stderr);
}

// Redraws the progress line after file n, at most ten times a second.
void show_progress(SeriesRun *run, int n)
{
    double s = seconds_since(run->t0);
    int ntotal = (run->last - run->first) / run->every + 1;
    if (!run->tty || (s - run->shown < 0.1 && run->done < ntotal))
        return;
    std::fprintf(stderr, "\r%s: %d/%d %s, %.0f %s\033[K", run->program, run->done, ntotal,
                 res_file_name(n), run->written / (s > 0 ? s : 1), run->rate_unit);
    run->shown = s;
}

} // namespace

int stop_signal()
{
    return caught;
}

std::string signal_name(int sig)
{
    const char *abbrev = sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

int start_run(SeriesRun *run, const char *usage)
{
    if (run->first > run->last)
        return usage_error(run->program, usage, "--first comes after --last");
    DIR *d = opendir(run->dir ? run->dir : ".");
    if (!d) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", run->program, run->dir ? run->dir : ".",
                     std::strerror(errno));
        return 1;
    }
    closedir(d);
    catch_stop_signals();
    run->tty = isatty(2) != 0;
    run->t0 = std::chrono::steady_clock::now();
    return -1;
}

namespace
{

// One content of a file: a rewrite or a rename into place gives another.
struct Signature {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long mtime_s = 0;
    long mtime_ns = 0;
};

bool operator==(const Signature &a, const Signature &b)
{
    return a.exists == b.exists && a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
           a.mtime_s == b.mtime_s && a.mtime_ns == b.mtime_ns;
}

Signature signature_of(const SeriesRun *run, int n)
{
    std::string path = std::string(run->dir ? run->dir : ".") + "/" + res_file_name(n);
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

double now_s()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What a follow knows of each index.
struct Followed {
    Signature taken[FILE_INDEX_MAX + 1]; // the content last handed on or reported
    Signature seen[FILE_INDEX_MAX + 1];  // the content seen last, and since when
    double since[FILE_INDEX_MAX + 1];
    bool pending[FILE_INDEX_MAX + 1]; // malformed, and perhaps still being written
};

Followed fw;

// File n as the reader found it.
struct Loaded {
    Signature sig; // the content read, while following
    LoadResult r;
    Mesh mesh;
};

void load(const SeriesRun *run, int n, Loaded *l)
{
    l->sig = run->follow ? signature_of(run, n) : Signature{};
    l->r = load_res(run->dir, n, &l->mesh);
}

// Hands loaded file n on, or says why it did not load. complete: no writer may still hold the
// file, so a malformed one is reported (once for each content); otherwise it waits.
bool hand_on(SeriesRun *run, int n, const Loaded &l, bool complete, const FileStep &step)
{
    const LoadResult &r = l.r;
    if (r.status == LoadStatus::CANNOT_OPEN && r.errnum == ENOENT) {
        if (run->state[n] != FileState::GOOD)
            run->state[n] = FileState::MISSING; // a gap, or a file not written yet
        return true;
    }
    if (r.status == LoadStatus::LOADED) {
        run->state[n] = FileState::GOOD;
        fw.pending[n] = false;
        fw.taken[n] = l.sig;
        return step(n, l.mesh);
    }
    if (!complete) {
        fw.pending[n] = true;
        return true;
    }
    if (!(fw.taken[n] == l.sig) || !run->follow) {
        clear_progress(run);
        print_load_failure(run->faults, r);
        std::fflush(run->faults);
    }
    run->state[n] = FileState::BROKEN;
    fw.pending[n] = false;
    fw.taken[n] = l.sig;
    return true;
}

bool take(SeriesRun *run, int n, bool complete, const FileStep &step)
{
    static Loaded l;
    load(run, n, &l);
    return hand_on(run, n, l, complete, step);
}

// The first pass's files, read by a second thread a few ahead of the one being handled.
struct ReadAhead {
    static constexpr int SLOTS = 2;
    Loaded slot[SLOTS];
    int loaded = 0; // files of the pass read so far
    int taken = 0;  // files of the pass handled so far
    bool quit = false;
    std::mutex m;
    std::condition_variable cv;
};

void read_ahead(const SeriesRun *run, ReadAhead *ra)
{
    for (int n = run->first, k = 0; n <= run->last; n += run->every, ++k) {
        {
            std::unique_lock<std::mutex> lock(ra->m);
            ra->cv.wait(lock, [ra, k] { return k - ra->taken < ReadAhead::SLOTS || ra->quit; });
            if (ra->quit)
                return;
        }
        load(run, n, &ra->slot[k % ReadAhead::SLOTS]);
        std::lock_guard<std::mutex> lock(ra->m);
        ++ra->loaded;
        ra->cv.notify_all();
    }
}

bool in_range(const SeriesRun *run, int n)
{
    return n >= run->first && n <= run->last && (n - run->first) % run->every == 0;
}

// The index of a result file's name, or -1.
int index_of(const char *name)
{
    int n = -1;
    std::size_t len = std::strlen(name);
    if (len < 11 || std::strncmp(name, "res0", 4) != 0 ||
        std::strcmp(name + len - 4, ".inp") != 0 ||
        std::from_chars(name + 4, name + len - 4, n).ptr != name + len - 4)
        return -1;
    const char *canonical = res_file_name(n);
    return canonical && std::strcmp(canonical, name) == 0 ? n : -1;
}

// Follows the series after the first pass; false when a step failed.
bool follow_series(SeriesRun *run, const FileStep &step)
{
    const double settle = run->poll > 0 ? run->poll : 1.0; // seconds a pending file must rest
    // How often the files are looked at: a file is seen complete at most two looks after it has
    // rested for the settling time.
    const double look = std::min(settle / 4, 0.04);
    const char *dir = run->dir ? run->dir : ".";
    int fd = -1;
    if (run->poll == 0) {
        fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0 || inotify_add_watch(fd, dir,
                                        IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_CREATE |
                                            IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
            clear_progress(run);
            std::fprintf(stderr, "%s: cannot watch %s (%s); looking every second instead\n",
                         run->program, dir, std::strerror(errno));
            if (fd >= 0)
                close(fd);
            fd = -1;
            run->poll = 1.0;
        }
    }
    double t = now_s(), last_complete = t;
    for (int n = run->first; n <= run->last; n += run->every) {
        fw.seen[n] = signature_of(run, n);
        fw.since[n] = t;
    }
    sigset_t open_mask = block_stop_signals();
    bool ok = true;
    while (ok && stop_signal() == 0) {
        bool all_good = true;
        for (int n = run->first; n <= run->last; n += run->every)
            all_good = all_good && run->state[n] == FileState::GOOD;
        t = now_s();
        if (all_good || (run->idle > 0 && t - last_complete >= run->idle))
            break;
        // Sleep until an event, the next look at the files, or the idle limit.
        bool any_pending = false;
        for (int n = run->first; n <= run->last; n += run->every)
            any_pending = any_pending || fw.pending[n];
        double wait = fd < 0 || any_pending ? look : 1e6;
        if (run->idle > 0)
            wait = std::min(wait, last_complete + run->idle - t);
        timespec ts{(time_t)wait, (long)((wait - (double)(time_t)wait) * 1e9)};
        pollfd p{fd, POLLIN, 0};
        ppoll(&p, fd < 0 ? 0 : 1, &ts, &open_mask);
        t = now_s();
        static bool closed[FILE_INDEX_MAX + 1];
        std::fill(std::begin(closed), std::end(closed), false);
        // Looking at every file: only the names the folder holds are worth a stat.
        static bool listed[FILE_INDEX_MAX + 1];
        std::fill(std::begin(listed), std::end(listed), fd >= 0);
        if (DIR *d = fd < 0 ? opendir(dir) : nullptr) {
            while (const dirent *e = readdir(d)) {
                int n = index_of(e->d_name);
                if (n >= 0)
                    listed[n] = true;
            }
            closedir(d);
        }
        alignas(inotify_event) char buf[16384];
        ssize_t len = 0;
        while (fd >= 0 && (len = read(fd, buf, sizeof buf)) > 0) {
            for (char *at = buf; at < buf + len;) {
                const auto *ev = reinterpret_cast<const inotify_event *>(at);
                at += sizeof(inotify_event) + ev->len;
                if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    clear_progress(run);
                    std::fprintf(stderr, "%s: %s is gone; the follow ends\n", run->program, dir);
                    run->failure = std::string(dir) + " is gone";
                    ok = false;
                    continue;
                }
                int n = ev->len ? index_of(ev->name) : -1;
                if (n < 0 || !in_range(run, n))
                    continue;
                if (ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO))
                    closed[n] = true;
                fw.since[n] = t; // a writer is at work: a pending file waits on
            }
        }
        for (int n = run->first; ok && n <= run->last; n += run->every) {
            bool complete = closed[n];
            if (fd < 0 || fw.pending[n]) {
                // Complete once unchanged for the settling time, and not taken as it is.
                Signature sig = listed[n] ? signature_of(run, n) : Signature{};
                if (!(sig == fw.seen[n])) {
                    fw.seen[n] = sig;
                    fw.since[n] = t;
                } else if (sig.exists && t - fw.since[n] >= settle && !(sig == fw.taken[n])) {
                    complete = true;
                }
            }
            if (!complete)
                continue;
            ok = take(run, n, true, step);
            last_complete = t;
            show_progress(run, n);
        }
    }
    restore_signals(open_mask);
    if (fd >= 0)
        close(fd);
    // What is still waiting is what it is at the end.
    for (int n = run->first; ok && n <= run->last; n += run->every)
        if (fw.pending[n])
            ok = take(run, n, true, step);
    return ok;
}

} // namespace

sigset_t block_stop_signals()
{
    sigset_t stop, old;
    sigemptyset(&stop);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop, sig);
    pthread_sigmask(SIG_BLOCK, &stop, &old);
    return old;
}

void restore_signals(const sigset_t &mask)
{
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
}

bool run_series(SeriesRun *run, const FileStep &step, const std::function<bool()> &first_pass_done)
{
    bool ok = true;
    // Reading the next file overlaps handling this one. The reader leaves the stop signals to
    // this thread.
    static ReadAhead ra;
    ra.loaded = ra.taken = 0;
    ra.quit = false;
    sigset_t mask = block_stop_signals();
    std::thread reader(read_ahead, run, &ra);
    restore_signals(mask);
    for (int n = run->first, k = 0; ok && n <= run->last; n += run->every, ++k) {
        if (stop_signal() != 0)
            break;
        ++run->done;
        {
            std::unique_lock<std::mutex> lock(ra.m);
            ra.cv.wait(lock, [k] { return ra.loaded > k; });
        }
        // While following, a malformed file may be one still being written.
        ok = hand_on(run, n, ra.slot[k % ReadAhead::SLOTS], !run->follow, step);
        show_progress(run, n);
        std::lock_guard<std::mutex> lock(ra.m);
        ++ra.taken;
        ra.cv.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(ra.m);
        ra.quit = true;
        ra.cv.notify_all();
    }
    reader.join();
    if (ok && run->follow && first_pass_done)
        ok = first_pass_done();
    if (ok && run->follow && stop_signal() == 0)
        ok = follow_series(run, step);
    // The counts say what each index came to.
    run->present = run->broken = run->missing = 0;
    for (int n = run->first; n <= run->last; n += run->every) {
        run->present += run->state[n] == FileState::GOOD || run->state[n] == FileState::BROKEN;
        run->broken += run->state[n] == FileState::BROKEN;
        run->missing += run->state[n] == FileState::MISSING;
    }
    // A stop signal is how a follow ends; otherwise it stops the run short.
    (run->follow ? run->ended_by : run->signal) = stop_signal();
    return ok && run->signal == 0;
}

bool make_output_dir(const SeriesRun *run, const std::string &dir)
{
    std::error_code ec;
    // Another process may make it at the same time: what counts is that it is there.
    if (dir.empty() || std::filesystem::create_directories(dir, ec) ||
        std::filesystem::is_directory(dir))
        return true;
    if (!ec)
        ec = std::make_error_code(std::errc::file_exists);
    std::fprintf(stderr, "%s: cannot make %s: %s\n", run->program, dir.c_str(),
                 ec.message().c_str());
    return false;
}

std::string output_name(int n, const char *ext)
{
    std::string name = res_file_name(n);
    return name.replace(name.size() - 4, 4, ext);
}

int finish_run(SeriesRun *run, const std::string &where)
{
    clear_progress(run);
    if (!run->failure.empty())
        std::fprintf(stderr, "%s: %s\n", run->program, run->failure.c_str());
    else if (run->present == 0 && !run->signal)
        std::fprintf(stderr, "%s: no result file of %d..%d is present in %s\n", run->program,
                     run->first, run->last, run->dir ? run->dir : ".");
    std::string stopped;
    if (run->signal)
        stopped = ", stopped by " + signal_name(run->signal);
    else if (run->ended_by)
        stopped = ", followed until " + signal_name(run->ended_by);
    else if (run->follow)
        stopped = ", followed";
    std::fprintf(stderr, "%s: %d %s, %d missing, %d broken in %.2f s%s; %s\n", run->program,
                 run->written, run->verb, run->missing, run->broken, seconds_since(run->t0),
                 stopped.c_str(), where.c_str());
    if (run->signal)
        return 128 + run->signal;
    return !run->failure.empty() || run->broken > 0 || run->written == 0 ? 1 : 0;
}

void end_by_signal(int sig)
{
    std::fflush(nullptr);
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(sig);
    _exit(128 + sig); // not reached: the default action ends the process
}
