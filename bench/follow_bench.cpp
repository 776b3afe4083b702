// Latency of following a series: a simulated writer writes 200 files at 20 files a second, each
// in two halves with a pause between, while rescheck, resrender and res2vtk --follow watch the
// folder, with inotify's events and with --poll. For each file: from its close to its output
// (rescheck's line, resrender's PNG, res2vtk's .vtu in place), median and worst.
#include "bench/bench_support.h"
#include "resfile/res_file.h"
#include "tests/support/child.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int NFILES = 200;
constexpr double PERIOD_MS = 50; // 20 files a second
constexpr double PAUSE_MS = 20;  // between the two halves of a file

// Times (now_ms) at which the output of each file was seen.
struct Seen {
    double at[NFILES];
    std::atomic<int> count{0};
};

// Watches a folder for outputs renamed into place: "res0NNN" + ext.
void watch_folder(const std::string &dir, const char *ext, Seen *seen, std::atomic<bool> *stop)
{
    int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, dir.c_str(), IN_MOVED_TO);
    alignas(inotify_event) char buf[8192];
    while (!*stop) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        double t = now_ms();
        ssize_t len = read(fd, buf, sizeof buf);
        for (char *at = buf; len > 0 && at < buf + len;) {
            const auto *ev = reinterpret_cast<const inotify_event *>(at);
            at += sizeof(inotify_event) + ev->len;
            int n = -1;
            if (ev->len && std::sscanf(ev->name, "res0%d", &n) == 1 && n >= 0 && n < NFILES &&
                std::strstr(ev->name, ext) && seen->at[n] == 0) {
                seen->at[n] = t;
                ++seen->count;
            }
        }
    }
    close(fd);
}

// Watches rescheck's standard output for "res0NNN.inp: well formed".
void watch_lines(Child *c, Seen *seen, std::atomic<bool> *stop)
{
    std::size_t done = 0;
    while (!*stop) {
        pump(c, 20);
        double t = now_ms();
        std::size_t nl;
        while ((nl = c->out.find('\n', done)) != std::string::npos) {
            int n = -1;
            if (std::sscanf(c->out.c_str() + done, "res0%d.inp: well formed", &n) == 1 && n >= 0 &&
                n < NFILES && seen->at[n] == 0) {
                seen->at[n] = t;
                ++seen->count;
            }
            done = nl + 1;
        }
    }
}

} // namespace

int main()
{
    TempDir dir;
    const std::string source = dir.path + "/source";
    Outcome gen =
        run_program({SAMPLE_SERIES_EXE, "--last", std::to_string(NFILES - 1), source}, dir.path);
    if (gen.status != 0) {
        std::fprintf(stderr, "follow_bench: cannot write a series: %s", gen.err.c_str());
        return 1;
    }
    std::vector<std::string> text(NFILES);
    for (int n = 0; n < NFILES; ++n) {
        std::ifstream f(source + "/" + res_file_name(n), std::ios::binary);
        text[(std::size_t)n].assign(std::istreambuf_iterator<char>(f), {});
    }
    const struct {
        const char *what;
        std::vector<std::string> args;
        const char *out_dir; // where the outputs appear; nullptr: standard output
        const char *ext;
    } runs[] = {
        {"rescheck", {RESCHECK_EXE, "--follow"}, nullptr, ""},
        {"resrender", {RESRENDER_EXE, "--follow", "--png", "p"}, "p", ".png"},
        {"res2vtk", {RES2VTK_EXE, "--follow"}, "series", ".vtu"},
    };
    for (const char *poll_s : {"", "0.5"}) {
        for (const auto &r : runs) {
            const std::string work = dir.path + "/" + r.what + (*poll_s ? "-poll" : "");
            const std::string series = work + "/series-in";
            std::filesystem::create_directories(series);
            if (r.out_dir)
                std::filesystem::create_directories(work + "/" + r.out_dir);
            std::vector<std::string> args = r.args;
            if (*poll_s) {
                args.emplace_back("--poll");
                args.emplace_back(poll_s);
            }
            args.push_back(series);
            Child c;
            std::vector<std::string> env = gl_program_env();
            env.push_back("DISPLAY");
            if (!spawn(&c, args, work, env))
                return 1;
            static Seen seen;
            std::fill(std::begin(seen.at), std::end(seen.at), 0.0);
            seen.count = 0;
            std::atomic<bool> stop{false};
            std::thread watcher =
                r.out_dir ? std::thread(watch_folder, work + "/" + r.out_dir, r.ext, &seen, &stop)
                          : std::thread(watch_lines, &c, &seen, &stop);
            usleep(300000); // the program reaches its watch
            std::vector<double> closed(NFILES);
            double t0 = now_ms();
            for (int n = 0; n < NFILES; ++n) {
                const std::string &t = text[(std::size_t)n];
                int fd = open((series + "/" + res_file_name(n)).c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
                std::size_t half = t.size() / 2;
                bool ok = write(fd, t.data(), half) == (ssize_t)half;
                usleep((useconds_t)(PAUSE_MS * 1000));
                ok =
                    ok && write(fd, t.data() + half, t.size() - half) == (ssize_t)(t.size() - half);
                close(fd);
                closed[(std::size_t)n] = now_ms();
                if (!ok)
                    return 1;
                double next = t0 + (n + 1) * PERIOD_MS;
                if (next > now_ms())
                    usleep((useconds_t)((next - now_ms()) * 1000));
            }
            double deadline = now_ms() + 30000;
            while (seen.count < NFILES && now_ms() < deadline)
                usleep(10000);
            stop = true;
            watcher.join();
            kill(c.pid, SIGINT);
            wait_exit(&c, 60000);
            kill_child(&c);
            std::vector<double> lat;
            for (int n = 0; n < NFILES; ++n)
                if (seen.at[n] > 0)
                    lat.push_back(seen.at[n] - closed[(std::size_t)n]);
            if ((int)lat.size() < NFILES) {
                std::fprintf(stderr, "follow_bench: %s saw %zu of %d files\n%s", r.what, lat.size(),
                             NFILES, c.err.c_str());
                return 1;
            }
            std::sort(lat.begin(), lat.end());
            std::string what = std::string(r.what) + " --follow" +
                               (*poll_s ? std::string(" --poll ") + poll_s : "");
            print_figure((what + ", close to output, median").c_str(), lat[NFILES / 2], "ms");
            print_figure((what + ", close to output, worst").c_str(), lat.back(), "ms");
        }
    }
    return 0;
}
