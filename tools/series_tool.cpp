#include "series_tool.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
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

int parse_command_line(int argc, char **argv, const char *program, const char *usage,
                       const std::vector<Option> &opts, const char **dir)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (name.size() < 2 || name[0] != '-') {
            if (*dir)
                return usage_error(program, usage, "more than one directory given: " + name);
            *dir = argv[i];
            continue;
        }
        const char *value = nullptr;
        std::size_t eq = name.rfind("--", 0) == 0 ? name.find('=') : std::string::npos;
        if (eq != std::string::npos) {
            value = argv[i] + eq + 1;
            name.resize(eq);
        }
        const Option *opt = nullptr;
        for (const auto &o : opts)
            if (name == o.name)
                opt = &o;
        if (!opt)
            return usage_error(program, usage, "unknown option " + name);
        if (opt->has_value && !value) {
            if (i + 1 == argc)
                return usage_error(program, usage, "a value is missing after " + name);
            value = argv[++i];
        }
        if (!opt->has_value && value)
            return usage_error(program, usage, name + " takes no value");
        if ((opt->has_value && *value == '\0') || !opt->take(value))
            return usage_error(program, usage,
                               "not a valid value for " + name + ": " + (value ? value : ""));
    }
    return -1;
}

std::vector<Option> range_options(SeriesRun *run)
{
    return {
        {"--first", true,
         [run](const char *v) { return parse_int(v, 0, FILE_INDEX_MAX, &run->first); }},
        {"--last", true,
         [run](const char *v) { return parse_int(v, 0, FILE_INDEX_MAX, &run->last); }},
        {"--every", true,
         [run](const char *v) { return parse_int(v, 1, FILE_INDEX_MAX + 1, &run->every); }},
    };
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
    run->tty = isatty(2) != 0;
    run->t0 = std::chrono::steady_clock::now();
    return -1;
}

namespace
{

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

} // namespace

bool load_next(SeriesRun *run, int n, Mesh *mesh)
{
    ++run->done;
    LoadResult r = load_res(run->dir, n, mesh);
    if (r.status == LoadStatus::LOADED)
        return true;
    if (r.status == LoadStatus::CANNOT_OPEN && r.errnum == ENOENT) {
        ++run->missing; // a gap in the series, or a file not written yet
        return false;
    }
    ++run->broken;
    clear_progress(run);
    if (r.status == LoadStatus::MALFORMED)
        print_res_error(stderr, r.path, r.fault);
    else
        std::fprintf(stderr, "cannot open %s: %s\n", r.path, std::strerror(r.errnum));
    return false;
}

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

bool make_output_dir(const SeriesRun *run, const std::string &dir)
{
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec) || std::filesystem::create_directories(dir, ec))
        return true;
    std::fprintf(stderr, "%s: cannot make %s: %s\n", run->program, dir.c_str(),
                 ec.message().c_str());
    return false;
}

std::string output_name(int n, const char *ext)
{
    std::string name = res_file_name(n);
    return name.replace(name.size() - 4, 4, ext);
}

int finish_run(SeriesRun *run, const char *verb, const char *failure, const std::string &where)
{
    clear_progress(run);
    if (failure)
        std::fprintf(stderr, "%s: %s\n", run->program, failure);
    if (run->written + run->broken == 0)
        std::fprintf(stderr, "%s: no result file of %d..%d is present in %s\n", run->program,
                     run->first, run->last, run->dir ? run->dir : ".");
    std::fprintf(stderr, "%s: %d %s, %d missing, %d broken in %.2f s; %s\n", run->program,
                 run->written, verb, run->missing, run->broken, seconds_since(run->t0),
                 where.c_str());
    return failure || run->broken > 0 || run->written == 0 ? 1 : 0;
}
