#include "series_tool.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <filesystem>
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

bool run_series(SeriesRun *run, const FileStep &step)
{
    static Mesh mesh;
    for (int n = run->first; n <= run->last; n += run->every) {
        if ((run->signal = stop_signal()) != 0)
            return false;
        ++run->done;
        LoadResult r = load_res(run->dir, n, &mesh);
        if (r.status == LoadStatus::CANNOT_OPEN && r.errnum == ENOENT) {
            ++run->missing; // a gap in the series, or a file not written yet
            run->state[n] = FileState::MISSING;
        } else if (r.status != LoadStatus::LOADED) {
            ++run->present;
            ++run->broken;
            run->state[n] = FileState::BROKEN;
            clear_progress(run);
            print_load_failure(run->faults, r);
        } else {
            ++run->present;
            run->state[n] = FileState::GOOD;
            if (!step(n, mesh))
                return false;
        }
        show_progress(run, n);
    }
    run->signal = stop_signal();
    return run->signal == 0;
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
