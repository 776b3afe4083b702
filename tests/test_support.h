// Helpers shared by the unit tests: a scratch directory and a child process whose exit status and
// output bytes can be inspected.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct Outcome {
    int status = -1; // exit status, or -1 after a signal
    std::string out;
    std::string err;
};

inline std::string slurp(FILE *f)
{
    std::string s;
    std::rewind(f);
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

// Runs fn in a child process in directory dir and collects its bytes on stdout and stderr.
inline Outcome run_child(const std::string &dir, const std::function<void()> &fn)
{
    FILE *out = std::tmpfile();
    FILE *err = std::tmpfile();
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        if (chdir(dir.c_str()) != 0)
            _exit(99);
        fn();
        std::fflush(nullptr);
        _exit(0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    Outcome o;
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    o.out = slurp(out);
    o.err = slurp(err);
    return o;
}

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/resview_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir()
    {
        std::string cmd = "rm -rf '" + path + "'";
        if (std::system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << path;
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    void write(const char *name, const std::string &text) const
    {
        FILE *f = std::fopen((path + "/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
};
