// Child processes for the tests, the benchmarks and the demo: one way to start one (a function
// or a program, in a directory, with its output collected through pipes), and waits that end at
// their deadline whatever the child leaves behind.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// A child process with its standard output and error collected through pipes.
struct Child {
    pid_t pid = -1;
    int out_fd = -1;
    int err_fd = -1;
    std::string out;
    std::string err;
    int status = -2; // exit status once ended; -1 after a signal, -2 while running
    int signal = 0;  // the signal that ended it, 0 if none
};

// Forks a child that runs body in directory dir with extra "NAME=value" environment entries (a
// NAME alone removes the variable),
// standard input from /dev/null, standard output and error into pipes, and no other descriptor
// of the parent. The child exits with status 0 when body returns. False if it cannot start.
bool start_child(Child *child, const std::string &dir, const std::function<void()> &body,
                 const std::vector<std::string> &env = {});
// The same for a program: argv[0], searched in PATH; status 127 if it cannot be run.
bool spawn(Child *child, const std::vector<std::string> &argv, const std::string &dir,
           const std::vector<std::string> &env = {});
// Collects what the child printed so far, waiting up to timeout_ms for more.
void pump(Child *child, int timeout_ms);
// Waits until the child's output contains text; false on timeout or if it ended without it.
bool wait_for_output(Child *child, const std::string &text, int timeout_ms);
// Waits for the child to end and collects its output; false if it still runs at the deadline.
// Output that a left-behind grandchild keeps open is collected up to the deadline only.
bool wait_exit(Child *child, int timeout_ms);
// Ends the child with SIGKILL if it still runs, and closes its pipes.
void kill_child(Child *child);

// How a child ended, and what it printed.
struct Outcome {
    int status = -1; // exit status, or -1 after a signal or a timeout
    std::string out;
    std::string err;
};

// Runs fn in a child process in directory dir and collects its exit status and output; killed
// after timeout_ms.
Outcome run_child(const std::string &dir, const std::function<void()> &fn, int timeout_ms = 60000);
// Runs a program the same way.
Outcome run_program(const std::vector<std::string> &argv, const std::string &dir,
                    const std::vector<std::string> &env = {}, int timeout_ms = 60000);

// The environment for a program that draws with Mesa's OpenGL (resview, resrender): the console's
// locale, and in the sanitizer build what LeakSanitizer needs to tell Mesa's allocations from
// the project's.
std::vector<std::string> gl_program_env();

// Resident memory of a running process in KiB, from /proc; -1 if unknown.
long resident_kib(pid_t pid);

// A monotonic clock in milliseconds.
double now_ms();

// Writes a file as a simulation does: opened, the first half written, a pause of pause_s seconds
// with the file still open, the rest, closed. Throws std::runtime_error if it cannot.
void write_in_halves(const std::string &path, const std::string &text, double pause_s);

// A scratch directory under the system's temporary directory, removed with what it holds.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    // Writes a file of the directory; throws std::runtime_error if it cannot.
    void write(const std::string &name, const std::string &text) const;
};
