#include "tests/support/child.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

double now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec * 1e3 + (double)ts.tv_nsec / 1e6;
}

bool start_child(Child *child, const std::string &dir, const std::function<void()> &body,
                 const std::vector<std::string> &env)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return false;
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(devnull, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        // Nothing else of the parent's (its X connection, other children's pipes) goes along.
        if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0)
            for (int fd = 3; fd < 1024; ++fd)
                fcntl(fd, F_SETFD, FD_CLOEXEC);
        if (chdir(dir.c_str()) != 0) {
            std::fprintf(stderr, "cannot enter %s: %s\n", dir.c_str(), std::strerror(errno));
            _exit(126);
        }
        for (const auto &e : env) {
            if (e.find('=') == std::string::npos)
                unsetenv(e.c_str());
            else
                putenv(strdup(e.c_str()));
        }
        body();
        std::fflush(nullptr);
        _exit(0);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return false;
    }
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    *child = Child{};
    child->pid = pid;
    child->out_fd = out[0];
    child->err_fd = err[0];
    return true;
}

bool spawn(Child *child, const std::vector<std::string> &argv, const std::string &dir,
           const std::vector<std::string> &env)
{
    return start_child(
        child, dir,
        [&argv] {
            std::vector<char *> args;
            args.reserve(argv.size() + 1);
            for (const auto &a : argv)
                args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
            _exit(127);
        },
        env);
}

void pump(Child *child, int timeout_ms)
{
    if (child->out_fd < 0 && child->err_fd < 0)
        return;
    pollfd p[2] = {{child->out_fd, POLLIN, 0}, {child->err_fd, POLLIN, 0}};
    if (poll(p, 2, timeout_ms) <= 0)
        return;
    int *fds[2] = {&child->out_fd, &child->err_fd};
    std::string *bufs[2] = {&child->out, &child->err};
    for (int i = 0; i < 2; ++i) {
        if (*fds[i] < 0 || !p[i].revents)
            continue;
        char buf[4096];
        ssize_t n;
        while ((n = read(*fds[i], buf, sizeof buf)) > 0)
            bufs[i]->append(buf, (size_t)n);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            close(*fds[i]);
            *fds[i] = -1;
        }
    }
}

bool wait_for_output(Child *child, const std::string &text, int timeout_ms)
{
    double deadline = now_ms() + timeout_ms;
    while (child->out.find(text) == std::string::npos) {
        if (now_ms() > deadline || child->out_fd < 0)
            return false;
        pump(child, 20);
    }
    return true;
}

namespace
{

void close_pipes(Child *child)
{
    for (int *fd : {&child->out_fd, &child->err_fd}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

} // namespace

bool wait_exit(Child *child, int timeout_ms)
{
    double deadline = now_ms() + timeout_ms;
    for (;;) {
        if (child->status == -2 && child->pid > 0) {
            int st = 0;
            if (waitpid(child->pid, &st, WNOHANG) == child->pid) {
                child->status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                child->signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
            }
        }
        bool drained = child->out_fd < 0 && child->err_fd < 0;
        if (child->status != -2 && drained)
            return true;
        double left = deadline - now_ms();
        if (left <= 0) {
            if (child->status == -2)
                return false;
            close_pipes(child); // a grandchild holds them open: stop collecting
            return true;
        }
        if (drained)
            usleep(2000);
        else
            pump(child, left < 10 ? (int)left + 1 : 10);
    }
}

void kill_child(Child *child)
{
    if (child->pid > 0 && child->status == -2) {
        kill(child->pid, SIGKILL);
        wait_exit(child, 5000);
    }
    close_pipes(child);
}

namespace
{

Outcome finish(Child &child, int timeout_ms)
{
    Outcome o;
    if (!wait_exit(&child, timeout_ms)) {
        kill_child(&child);
        o.err = "timed out after " + std::to_string(timeout_ms) + " ms\n";
    } else {
        o.status = child.status;
    }
    o.out = child.out;
    o.err = child.err + o.err;
    return o;
}

} // namespace

Outcome run_child(const std::string &dir, const std::function<void()> &fn, int timeout_ms)
{
    Child child;
    if (!start_child(&child, dir, fn))
        return Outcome{-1, "", "cannot fork\n"};
    return finish(child, timeout_ms);
}

Outcome run_program(const std::vector<std::string> &argv, const std::string &dir,
                    const std::vector<std::string> &env, int timeout_ms)
{
    Child child;
    if (!spawn(&child, argv, dir, env))
        return Outcome{-1, "", "cannot fork\n"};
    return finish(child, timeout_ms);
}

std::vector<std::string> gl_program_env()
{
    std::vector<std::string> env = {"LANG=C.UTF-8", "LC_ALL="};
#if defined(__SANITIZE_ADDRESS__)
    // Mesa unloads its software driver at exit, leaving what it never freed without a module
    // name to suppress; preloading the driver keeps it mapped. The sanitizer runtime then no
    // longer comes first in the load order, which is harmless here.
    env.push_back("LD_PRELOAD=" SWRAST_DRI);
    env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    env.push_back("LSAN_OPTIONS=print_suppressions=0:suppressions=" LSAN_SUPPRESSIONS);
#endif
    return env;
}

long resident_kib(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long kib = -1;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> kib;
            break;
        }
        in.ignore(1 << 20, '\n');
    }
    return kib;
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "resview_test.XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("cannot make a scratch directory: " +
                                 std::string(std::strerror(errno)));
    path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec)
        std::fprintf(stderr, "cannot remove %s: %s\n", path.c_str(), ec.message().c_str());
}

void TempDir::write(const std::string &name, const std::string &text) const
{
    std::ofstream f(path + "/" + name, std::ios::binary | std::ios::trunc);
    f.write(text.data(), (std::streamsize)text.size());
    f.close();
    if (!f)
        throw std::runtime_error("cannot write " + path + "/" + name);
}

void write_in_halves(const std::string &path, const std::string &text, double pause_s)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    std::size_t half = text.size() / 2;
    bool ok = fd >= 0 && write(fd, text.data(), half) == (ssize_t)half;
    usleep((useconds_t)(pause_s * 1e6));
    ok = ok && write(fd, text.data() + half, text.size() - half) == (ssize_t)(text.size() - half);
    if (fd >= 0)
        close(fd);
    if (!ok)
        throw std::runtime_error("cannot write " + path);
}
