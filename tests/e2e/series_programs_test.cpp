// The programs beside the viewer end to end, on what they all meet: names in the series that are
// not regular files, a series followed while it is written, and runs killed part way.
#include "tests/support/child.h"
#include "tests/support/image.h"
#include "tools/common/temporaries.h"
#include "view/read_res.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

// A FIFO and a directory where result files should be: every program names them and goes on,
// none waits for a writer that never comes; the viewer's load ends with its open-failure message.
TEST(SeriesTools, NamesThatAreNotRegularFilesAreRefusedAtOnce)
{
    TempDir dir;
    dir.write("res0000.inp", "3 1\n1 1 2 3\n1 0 0\n2 1 0\n3 0 1\n");
    ASSERT_EQ(mkfifo((dir.path + "/res0001.inp").c_str(), 0666), 0);
    ASSERT_EQ(mkdir((dir.path + "/res0002.inp").c_str(), 0777), 0);
    const char *fifo_line = "cannot open ./res0001.inp: it is a FIFO, not a regular file\n";
    const char *dir_line = "cannot open ./res0002.inp: it is a directory, not a regular file\n";
    std::vector<std::string> env = gl_program_env();
    env.push_back("DISPLAY");
    const struct {
        std::vector<std::string> args;
        bool report_on_stdout;
    } programs[] = {
        {{RESCHECK_EXE, "--last", "2", "."}, true},
        {{RESRENDER_EXE, "--last", "2", "--png", "p", "."}, false},
        {{RES2VTK_EXE, "--last", "2", "."}, false},
    };
    for (const auto &p : programs) {
        Outcome o = run_program(p.args, dir.path, env, 20000);
        EXPECT_EQ(o.status, 1) << p.args[0] << "\n" << o.err;
        const std::string &report = p.report_on_stdout ? o.out : o.err;
        EXPECT_NE(report.find(fifo_line), std::string::npos) << p.args[0] << "\n" << report;
        EXPECT_NE(report.find(dir_line), std::string::npos) << p.args[0] << "\n" << report;
    }
    // The viewer's load: file 1 is the FIFO.
    Outcome o = run_child(
        dir.path,
        [] {
            setenv("LANG", "C.UTF-8", 1);
            unsetenv("LC_ALL");
            unsetenv("LC_CTYPE");
            read_res(1);
        },
        20000);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x81\x8c\xe3\x82\xaa"
                     "\xe3\x83\xbc\xe3\x83\x97\xe3\x83\xb3\xe3\x81\xa7\xe3\x81\x8d\xe3\x81\xbe"
                     "\xe3\x81\x9b\xe3\x82\x93\n"); // ファイルがオープンできません
    EXPECT_EQ(o.err, "cannot open res0001.inp: it is a FIFO, not a regular file\n");
}

const char TRIANGLE[] = "3 1\n1 1 2 3\n1 0 0\n2 4 0\n3 0 4\n";
const char SQUARE[] = "4 2\n1 1 2 3\n2 1 3 4\n1 -4 -4\n2 -1 -4\n3 -1 -1\n4 -4 -1\n";

std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

int count_of(const std::string &text, const std::string &what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Each program follows a series while a real writer writes it: a file written in two halves with
// a pause between gives no broken-file line and one output; a file that stays malformed after
// its close is reported once and handled when it is mended; a rewritten file is handled again;
// SIGINT ends the run with its summary and status 0, as does --idle.
TEST(SeriesTools, FollowASeriesAsItIsWritten)
{
    std::vector<std::string> env = gl_program_env();
    env.push_back("DISPLAY");
    // How far a program has got: the outputs of file n, counted in its own terms.
    const auto handled = [](const std::string &prog, const std::string &dir, const Child &c, int n,
                            const char *text) {
        std::string name = "res000" + std::to_string(n);
        if (prog == RESCHECK_EXE)
            return count_of(c.out, name + ".inp: well formed");
        if (prog == RES2VTK_EXE) {
            // The file the collection names for n.
            const std::string pvd = slurp(dir + "/series.pvd");
            const std::size_t at = pvd.find("series/" + name + "-");
            const std::size_t end = pvd.find('"', at);
            if (at == std::string::npos || end == std::string::npos)
                return 0;
            std::string vtu = slurp(dir + "/" + pvd.substr(at, end - at));
            std::string points = std::string("NumberOfPoints=\"") + text[0] + "\"";
            return (int)(vtu.find(points) != std::string::npos);
        }
        // The square lies lower left, the triangle upper right.
        Image png = read_png(dir + "/p/" + name + ".png");
        int lower_left = 0;
        for (int y = 160; y < png.h; ++y)
            for (int x = 0; x < 140; ++x)
                lower_left += png.at(x, y) == 0xff0000;
        return (int)(png.w > 0 && (lower_left > 0) == (text[0] == '4'));
    };
    const struct {
        std::vector<std::string> args;
        double pause_s; // the writer's pause inside a file
    } runs[] = {
        {{RESCHECK_EXE, "--follow", "--last", "4", "."}, 1.0},
        {{RES2VTK_EXE, "--follow", "--last", "4", "."}, 1.0},
        {{RESRENDER_EXE, "--follow", "--last", "4", "--png", "p", "--gif", "g.gif", "."}, 1.0},
        {{RESCHECK_EXE, "--follow", "--poll", "1", "--last", "4", "."}, 0.4},
        {{RES2VTK_EXE, "--follow", "--poll", "1", "--last", "4", "."}, 0.4},
        {{RESRENDER_EXE, "--follow", "--poll", "1", "--last", "4", "--png", "p", "--gif", "g.gif",
          "."},
         0.4},
    };
    for (const auto &r : runs) {
        const std::string &prog = r.args[0];
        std::string shown;
        for (const auto &a : r.args)
            shown += a.substr(a.rfind('/') + 1) + " ";
        TempDir dir;
        dir.write("res0000.inp", TRIANGLE);
        Child c;
        ASSERT_TRUE(spawn(&c, r.args, dir.path, env)) << shown;
        const auto wait_for = [&](int n, const char *text, int times) {
            double deadline = now_ms() + 20000;
            while (handled(prog, dir.path, c, n, text) < times && now_ms() < deadline)
                pump(&c, 20);
            return handled(prog, dir.path, c, n, text) >= times;
        };
        ASSERT_TRUE(wait_for(0, TRIANGLE, 1)) << shown << c.err;
        write_in_halves(dir.path + "/res0001.inp", TRIANGLE, r.pause_s);
        write_in_halves(dir.path + "/res0002.inp", "3 1\n1 1 2 9\n", 0);
        EXPECT_TRUE(wait_for(1, TRIANGLE, 1)) << shown << c.err;
        // Left malformed long enough to count as complete, then mended.
        double deadline = now_ms() + 20000;
        while (count_of(c.out + c.err, "res0002.inp:2:") == 0 && now_ms() < deadline)
            pump(&c, 20);
        write_in_halves(dir.path + "/res0002.inp", TRIANGLE, 0);
        write_in_halves(dir.path + "/res0003.inp", TRIANGLE, 0);
        EXPECT_TRUE(wait_for(3, TRIANGLE, 1)) << shown << c.err;
        write_in_halves(dir.path + "/res0003.inp", SQUARE, r.pause_s);
        EXPECT_TRUE(wait_for(2, TRIANGLE, 1)) << shown << c.err;
        EXPECT_TRUE(wait_for(3, SQUARE, prog == RESCHECK_EXE ? 2 : 1)) << shown << c.err;
        kill(c.pid, SIGINT);
        ASSERT_TRUE(wait_exit(&c, 20000)) << shown;
        EXPECT_EQ(c.status, 0) << shown << c.out << c.err;
        EXPECT_EQ(count_of(c.out + c.err, "res0001.inp:"),
                  count_of(c.out, "res0001.inp: well formed"))
            << shown << c.out << c.err;
        EXPECT_EQ(count_of(c.out + c.err, "res0002.inp:2: element 1 names node 9"), 1)
            << shown << c.out << c.err;
        if (prog == RESCHECK_EXE)
            EXPECT_NE(c.out.find("\npresent: 0-3; missing: none; 4 not written\n"),
                      std::string::npos)
                << c.out;
        else
            EXPECT_NE(c.err.find(", followed until SIGINT; "), std::string::npos) << shown << c.err;
        // Files 0 to 3 each count once, the rewritten one too, in every program's summary.
        if (prog != RESCHECK_EXE) {
            EXPECT_NE(c.err.find(prog == RES2VTK_EXE ? ": 4 converted in " : ": 4 rendered in "),
                      std::string::npos)
                << shown << c.err;
        }
        if (prog == RESRENDER_EXE) {
            Gif gif = read_gif(dir.path + "/g.gif");
            EXPECT_EQ(gif.frames.size(), 4u) << shown << "one frame a file, in series order";
        }
    }
    // --idle: a follow with nothing coming ends by itself.
    TempDir dir;
    dir.write("res0000.inp", TRIANGLE);
    double t0 = now_ms();
    Outcome o = run_program({RES2VTK_EXE, "--follow", "--idle", "0.5", "."}, dir.path, {}, 20000);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_GE(now_ms() - t0, 500);
    EXPECT_NE(o.err.find(" s, 0 missing, 0 broken, 1-1010 not written, followed; "),
              std::string::npos)
        << o.err;
    // A follow ends by itself, too, once every file of the range is there and well formed.
    o = run_program({RESCHECK_EXE, "--follow", "--last", "0", "."}, dir.path, {}, 20000);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.rfind("res0000.inp: well formed, 3 nodes, 1 element\npresent: 0;", 0), 0u)
        << o.out;
}

// A follow loses no file, whenever it lands: files renamed in while the program reads the files
// present (after its first pass went by their indices) are each handled, and the follow ends once
// every file is there. A folder that vanishes during a follow ends it with one line and status 1,
// with events and polling.
TEST(SeriesTools, AFollowLosesNoFileAndEndsWhenItsFolderGoes)
{
    TempDir series;
    ASSERT_EQ(run_program({SAMPLE_SERIES_EXE, "s"}, series.path).status, 0);
    std::vector<std::string> early; // files 0..59, taken away and renamed in again
    for (int n = 0; n < 60; ++n) {
        const std::string name = series.path + "/s/res00" + (n < 10 ? "0" : "") + std::to_string(n);
        early.push_back(slurp(name + ".inp"));
    }
    for (int run = 0; run < 3; ++run) {
        for (int n = 0; n < 60; ++n)
            std::remove(
                (series.path + "/s/res00" + (n < 10 ? "0" : "") + std::to_string(n) + ".inp")
                    .c_str());
        Child c;
        ASSERT_TRUE(spawn(&c, {RESCHECK_EXE, "--follow", "s"}, series.path));
        // Once the first pass has gone by their indices, while it reads on.
        ASSERT_TRUE(wait_for_output(&c, "res0060.inp: well formed", 10000)) << c.err;
        for (int n = 0; n < 60; ++n) {
            const std::string name = "res00" + std::string(n < 10 ? "0" : "") + std::to_string(n);
            series.write(name + ".tmp", early[(std::size_t)n]);
            std::filesystem::rename(series.path + "/" + name + ".tmp",
                                    series.path + "/s/" + name + ".inp");
        }
        ASSERT_TRUE(wait_exit(&c, 30000)) << "run " << run << ": " << c.out << c.err;
        EXPECT_EQ(c.status, 0) << c.err;
        EXPECT_NE(c.out.find("\npresent: 0-1010; missing: none\n"), std::string::npos)
            << "run " << run << ": " << c.out.substr(c.out.rfind("present:"));
    }
    for (const char *prog : {RESCHECK_EXE, RES2VTK_EXE}) {
        for (bool poll : {false, true}) {
            TempDir dir;
            std::filesystem::create_directory(dir.path + "/s");
            dir.write("s/res0000.inp", TRIANGLE);
            std::vector<std::string> args = {prog, "--follow", "s"};
            if (poll)
                args.insert(args.begin() + 2, {"--poll", "0.2"});
            if (prog == std::string(RES2VTK_EXE))
                args.insert(args.begin() + 1, {"-o", "out.pvd"});
            Child c;
            ASSERT_TRUE(spawn(&c, args, dir.path));
            const std::string shown = std::string(prog) + (poll ? " --poll" : "");
            for (double end = now_ms() + 20000;
                 !std::filesystem::exists(dir.path + "/out.pvd") &&
                 c.out.find("res0000.inp: well formed") == std::string::npos && now_ms() < end;)
                pump(&c, 20);
            std::filesystem::remove_all(dir.path + "/s");
            ASSERT_TRUE(wait_exit(&c, 20000)) << shown;
            EXPECT_EQ(c.status, 1) << shown << c.err;
            EXPECT_EQ(count_of(c.err, "s is gone; the follow ends\n"), 1) << shown << c.err;
        }
    }
}

// The temporaries of ours in dir and its folders, as "folder/name".
std::vector<std::string> temporaries_under(const std::string &dir)
{
    std::vector<std::string> found;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir)) {
        if (!temporary_of(e.path().filename().string()).empty())
            found.push_back(e.path().string().substr(dir.size() + 1));
    }
    return found;
}

// The .vtu files in out/c.
std::vector<std::string> vtu_files(const std::string &dir)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir + "/out/c", ec))
        if (e.path().extension() == ".vtu")
            found.push_back(e.path().filename().string());
    return found;
}

// Runs killed with SIGKILL at several depths leave their temporaries (and res2vtk .vtu files that
// no collection names); the next run into the same outputs removes them, whatever range it
// covers. A live run's temporaries stay meanwhile.
TEST(SeriesTools, ARunRemovesWhatKilledRunsLeft)
{
    TempDir dir;
    ASSERT_EQ(run_program({SAMPLE_SERIES_EXE, "series"}, dir.path).status, 0);
    std::vector<std::string> env = gl_program_env();
    env.push_back("DISPLAY");
    const std::vector<std::string> runs[] = {
        {RES2VTK_EXE, "--ascii", "-o", "out/c.pvd", "series"},
        {RESRENDER_EXE, "--png", "out/p", "--gif", "out/g.gif", "series"},
    };
    for (const auto &args : runs) {
        const std::string prog = args[0].substr(args[0].rfind('/') + 1);
        std::filesystem::remove_all(dir.path + "/out");
        std::size_t left = 0;
        for (int delay_ms : {0, 300, 800}) {
            Child c;
            ASSERT_TRUE(spawn(&c, args, dir.path, env));
            double deadline = now_ms() + 20000;
            while (!std::filesystem::exists(dir.path + "/out") ||
                   (temporaries_under(dir.path + "/out").empty() && vtu_files(dir.path).empty())) {
                ASSERT_LT(now_ms(), deadline) << prog << " wrote nothing";
                usleep(2000);
            }
            usleep((useconds_t)delay_ms * 1000);
            kill(c.pid, SIGKILL);
            ASSERT_TRUE(wait_exit(&c, 20000));
            EXPECT_EQ(c.signal, SIGKILL) << prog << " ended before it was killed";
            left = temporaries_under(dir.path + "/out").size() + vtu_files(dir.path).size();
        }
        EXPECT_GT(left, 0u) << prog;
        std::vector<std::string> rerun = args;
        rerun.insert(rerun.begin() + 1, {"--last", "2"});
        Outcome o = run_program(rerun, dir.path, env);
        EXPECT_EQ(o.status, 0) << prog << o.err;
        EXPECT_EQ(temporaries_under(dir.path + "/out"), std::vector<std::string>{}) << prog;
        if (prog == "res2vtk") {
            EXPECT_EQ(vtu_files(dir.path).size(), 3u) << "those the new collection names";
        }
    }

    // A run writing the GIF (a follow of a series that lacks its last file, so that it lives
    // until it is asked to end), and a second one into the same GIF meanwhile: the first one's
    // temporary stays, and it still writes its GIF.
    std::remove((dir.path + "/series/res01010.inp").c_str());
    Child first;
    ASSERT_TRUE(
        spawn(&first, {RESRENDER_EXE, "--follow", "--gif", "g.gif", "series"}, dir.path, env));
    double deadline = now_ms() + 20000;
    while (temporaries_under(dir.path).empty() && now_ms() < deadline)
        usleep(2000);
    const std::vector<std::string> live = temporaries_under(dir.path);
    ASSERT_EQ(live.size(), 1u);
    Outcome second =
        run_program({RESRENDER_EXE, "--gif", "g.gif", "--last", "1", "series"}, dir.path, env);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(temporaries_under(dir.path), live) << "the live run's temporary stays";
    kill(first.pid, SIGINT);
    ASSERT_TRUE(wait_exit(&first, 60000));
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_GT(read_gif(dir.path + "/g.gif").frames.size(), 1u) << "the first run's GIF";
}

} // namespace
