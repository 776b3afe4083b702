// The series loop and its follow watcher in this process: made, run twice and dropped, over
// scratch folders, with real files, a real writer thread and real signals.
#include "tests/support/child.h"
#include "tools/common/series_loop.h"
#include "tools/common/stop_signals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace
{

// File n holds n + 3 nodes, so that a mesh handed on says which file it came from.
std::string file_text(int n)
{
    std::string s = std::to_string(n + 3) + " 1\n1 1 2 3\n";
    for (int k = 1; k <= n + 3; ++k)
        s += std::to_string(k) + " " + std::to_string(k) + " " + std::to_string(k % 2) + "\n";
    return s;
}

// What a run handed on, and what it said.
struct Seen {
    std::vector<int> files;
    bool meshes_match = true; // each mesh was its own file's
    std::string faults;       // the fault lines, under m, as the loop writes them
    bool first_pass_done = false;
    std::mutex m;
    std::condition_variable cv;

    // Waits up to 20 s until done() holds, under m.
    template <typename Done> bool wait(Done done)
    {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::seconds(20), done);
    }
};

Status seen_step(Seen *seen, int n, const Mesh &mesh)
{
    seen->files.push_back(n);
    seen->meshes_match = seen->meshes_match && mesh.np == n + 3;
    return Status();
}

// A run of loop with step, its fault lines caught as they are written and the end of its first
// pass told: events a writer in another thread waits on.
Status run_caught(SeriesLoop *loop, RunReport *report, Seen *seen, const FileStep &step)
{
    cookie_io_functions_t io{};
    io.write = [](void *cookie, const char *buf, std::size_t n) -> ssize_t {
        auto *s = static_cast<Seen *>(cookie);
        std::lock_guard<std::mutex> lock(s->m);
        s->faults.append(buf, n);
        s->cv.notify_all();
        return (ssize_t)n;
    };
    std::FILE *faults = fopencookie(seen, "w", io);
    report->set_faults(faults);
    Status s = loop->run(step, [seen] {
        std::lock_guard<std::mutex> lock(seen->m);
        seen->first_pass_done = true;
        seen->cv.notify_all();
        return Status();
    });
    std::fclose(faults);
    return s;
}

// Files 0..5, 8 and 1000 good, 6 malformed, 7 missing: each range hands on its files in series
// order, each with its own mesh though the next is read ahead, and counts what each index came
// to, the gaps apart from the indices after the last file. The same loop runs twice with the same
// result.
TEST(SeriesLoop, RangeGapsAndReadAheadOrder)
{
    TempDir dir;
    for (int n : {0, 1, 2, 3, 4, 5, 8, 1000})
        dir.write(res_file_name(n), file_text(n));
    dir.write("res0006.inp", "3 1\n1 1 2 9\n");
    const struct {
        Range range;
        std::vector<int> files;
        int missing, broken;
        const char *unwritten;
    } cases[] = {
        {{0, FILE_INDEX_MAX, 1}, {0, 1, 2, 3, 4, 5, 8, 1000}, 992, 1, "1001-1010"},
        {{2, 8, 1}, {2, 3, 4, 5, 8}, 1, 1, ""},
        {{1, 9, 2}, {1, 3, 5}, 0, 0, "7-9"},
        {{0, 12, 6}, {0}, 0, 1, "12"},
        {{1000, 1000, 1}, {1000}, 0, 0, ""},
        {{9, 11, 5}, {}, 0, 0, "9"},
    };
    for (const auto &c : cases) {
        const std::string shown = "range " + std::to_string(c.range.first) + ".." +
                                  std::to_string(c.range.last) + "/" +
                                  std::to_string(c.range.every);
        RunReport report("test", "seen", "files/s");
        SeriesLoop loop(dir.path.c_str(), c.range, {}, &report);
        for (int pass = 0; pass < 2; ++pass) {
            Seen seen;
            Status s = run_caught(&loop, &report, &seen, [&seen](int n, const Mesh &m) {
                usleep(2000); // the reader gets ahead
                return seen_step(&seen, n, m);
            });
            EXPECT_TRUE(s.ok()) << shown;
            EXPECT_EQ(seen.files, c.files) << shown;
            EXPECT_TRUE(seen.meshes_match) << shown;
            EXPECT_EQ(loop.missing(), c.missing) << shown;
            EXPECT_EQ(loop.unwritten(), c.unwritten) << shown;
            EXPECT_EQ(loop.broken(), c.broken) << shown;
            EXPECT_EQ(loop.present(), (int)c.files.size() + c.broken) << shown;
            EXPECT_EQ(seen.faults, c.broken ? dir.path + "/res0006.inp:2: element 1 names node 9, "
                                                         "but the file has 3 nodes\n"
                                            : "")
                << shown;
        }
    }
}

// A step that fails ends the run with its error; a stop signal ends it after the file at hand.
// Either way the next run of the same loop starts afresh.
TEST(SeriesLoop, StepErrorAndStopSignalEndTheRun)
{
    TempDir dir;
    for (int n = 0; n < 10; ++n)
        dir.write(res_file_name(n), file_text(n));
    RunReport report("test", "seen", "files/s");
    SeriesLoop loop(dir.path.c_str(), {0, 9, 1}, {}, &report);
    catch_stop_signals();
    const struct {
        int at;     // the file whose step fails or signals
        int signal; // 0: the step fails
    } cases[] = {{3, 0}, {4, SIGTERM}, {0, SIGINT}, {9, SIGHUP}};
    for (const auto &c : cases) {
        Seen seen;
        Status s = run_caught(&loop, &report, &seen, [&](int n, const Mesh &m) {
            Status r = seen_step(&seen, n, m);
            if (n == c.at && c.signal == 0)
                return Status::error("cannot write file " + std::to_string(n));
            if (n == c.at)
                std::raise(c.signal);
            return r;
        });
        EXPECT_EQ(seen.files.size(), (std::size_t)c.at + 1) << "at " << c.at;
        EXPECT_EQ(s.message(), c.signal ? "" : "cannot write file 3");
        EXPECT_EQ(loop.stopped_by(), c.signal);
        catch_stop_signals(); // the next run starts with the flag clear
    }
    Seen seen;
    EXPECT_TRUE(run_caught(&loop, &report, &seen, [&](int n, const Mesh &m) {
                    return seen_step(&seen, n, m);
                }).ok());
    EXPECT_EQ(seen.files.size(), 10u);
    EXPECT_EQ(loop.stopped_by(), 0);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
}

// The follow, with events and with polling, while a writer thread writes files 1 to 3 in halves
// with a pause inside each, and file 2 first malformed, then mended: each file is handed on once
// it is whole, the malformed one is reported once, and the follow ends by itself once the whole
// range is well formed. Run twice.
TEST(FollowWatcher, FilesAreHandedOnWhenAWriterIsDone)
{
    for (double poll : {0.0, 0.5}) {
        // A pause inside a file shorter than the settling time: polling cannot tell it apart.
        const double pause = poll > 0 ? poll / 3 : 0.6;
        TempDir dir;
        dir.write("res0000.inp", file_text(0));
        RunReport report("test", "seen", "files/s");
        SeriesLoop loop(dir.path.c_str(), {0, 3, 1}, {true, poll, 20}, &report);
        for (int pass = 0; pass < 2; ++pass) {
            for (int n = 1; n <= 3; ++n)
                std::remove((dir.path + "/" + res_file_name(n)).c_str());
            Seen seen;
            // The writer goes on as the loop answers: once it watches, and once it has
            // reported the malformed file as complete.
            std::thread writer([&] {
                seen.wait([&] { return seen.first_pass_done; });
                write_in_halves(dir.path + "/res0001.inp", file_text(1), pause);
                write_in_halves(dir.path + "/res0002.inp", "3 1\n1 1 2 9\n", 0);
                seen.wait([&] { return seen.faults.find("res0002.inp:2:") != std::string::npos; });
                write_in_halves(dir.path + "/res0002.inp", file_text(2), 0);
                write_in_halves(dir.path + "/res0003.inp", file_text(3), pause);
            });
            Status s = run_caught(&loop, &report, &seen,
                                  [&](int n, const Mesh &m) { return seen_step(&seen, n, m); });
            writer.join();
            const std::string shown =
                "poll " + std::to_string(poll) + ", pass " + std::to_string(pass);
            EXPECT_TRUE(s.ok()) << shown;
            EXPECT_EQ(seen.files, (std::vector<int>{0, 1, 2, 3})) << shown;
            EXPECT_TRUE(seen.meshes_match) << shown;
            EXPECT_EQ(seen.faults, dir.path + "/res0002.inp:2: element 1 names node 9, but the "
                                              "file has 3 nodes\n")
                << shown;
            EXPECT_EQ(loop.ended_by(), 0) << shown;
            EXPECT_EQ(loop.present(), 4) << shown;
        }
    }
}

} // namespace
