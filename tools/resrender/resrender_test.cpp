// The real resrender with no display: what it writes for a series with gaps and broken files,
// its animation as giflib decodes it, its exit statuses.
#include "tests/support/child.h"
#include "tests/support/image.h"
#include "tools/common/temporaries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

const char GOOD[] = "3 1\n1 1 2 3\n1 0 0\n2 4 0\n3 0 4\n";
const char OTHER[] = "3 1\n1 1 2 3\n1 -4 0\n2 -2 0\n3 -4 2\n";

Outcome resrender(const TempDir &dir, std::vector<std::string> args, const char *more_env = nullptr)
{
    args.insert(args.begin(), RESRENDER_EXE);
    std::vector<std::string> env = gl_program_env();
    env.push_back("DISPLAY");
    if (more_env)
        env.push_back(more_env);
    return run_program(args, dir.path, env);
}

std::string contents(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

std::set<std::string> files_in(const std::string &dir)
{
    std::set<std::string> names;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec))
        names.insert(e.path().filename().string());
    return names;
}

// Files 0, 1 and 1000 good, 2 missing, 3 malformed: the good ones rendered, each once as PNG and
// once as a frame of the animation, the malformed one named with its line, status 1.
TEST(Resrender, SeriesWithGapsAndABrokenFile)
{
    TempDir dir;
    dir.write("res0000.inp", GOOD);
    dir.write("res0001.inp", OTHER);
    dir.write("res0003.inp", "3 1\n1 1 2 9\n");
    dir.write("res01000.inp", GOOD);
    Outcome o = resrender(dir, {"--png", "out", "--gif", "a.gif", "--fps", "20"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.substr(0, o.err.find('\n') + 1),
              "res0003.inp:2: element 1 names node 9, but the file has 3 nodes\n");
    EXPECT_NE(o.err.find("resrender: 3 rendered in "), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(" s, 997 missing, 1 broken, 1001-1010 not written; "), std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("; PNG files in out, GIF a.gif\n"), std::string::npos) << o.err;
    EXPECT_EQ(files_in(dir.path + "/out"),
              (std::set<std::string>{"res0000.png", "res0001.png", "res01000.png"}));

    Gif gif = read_gif(dir.path + "/a.gif");
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.loop_count, 0) << "loops for ever";
    EXPECT_EQ(gif.delays_cs, (std::vector<int>{5, 5, 5}));
    const char *order[] = {"res0000.png", "res0001.png", "res01000.png"};
    for (size_t i = 0; i < gif.frames.size() && i < 3; ++i) {
        Image png = read_png(dir.path + "/out/" + order[i]);
        EXPECT_EQ(png.w, 300);
        EXPECT_EQ(gif.frames[i].px, png.px) << "frame " << i << " is not " << order[i];
    }
    EXPECT_NE(gif.frames[0].px, gif.frames[1].px);
    for (const auto &name : files_in(dir.path))
        EXPECT_EQ(temporary_of(name), "") << name << " left behind";
}

// What ends a run early, and how: usage errors with status 2 and the usage, and runs with nothing
// to render with status 1 and nothing written.
TEST(Resrender, StatusesAndWhatIsWritten)
{
    TempDir dir;
    dir.write("res0001.inp", GOOD);
    const struct {
        std::vector<std::string> args;
        int status;
        const char *err_start;
        const char *env = nullptr;
    } cases[] = {
        {{"--png", "p", "--first", "1", "--last", "1", "--size", "64x32"},
         0,
         "resrender: 1 rendered"},
        {{"--gif", "g.gif", "--first", "2", "--last", "9"}, 1, "resrender: no result file of 2..9"},
        {{"--png", "q", "--gif", "g.gif"},
         1,
         "resrender: no OpenGL context without a display: ",
         "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"},
        {{"--gif", "g.gif", "--last", "1", "--first", "1", "no-such-dir"},
         1,
         "resrender: cannot read no-such-dir: No such file or directory"},
        {{}, 2, "resrender: nothing to write: give --png, --gif or both\n"},
        {{"--png"}, 2, "resrender: --png takes a folder, and none was given\n"},
        {{"--frobnicate", "--png", "p"}, 2, "resrender: unknown option --frobnicate\n"},
        {{"--gif", "g.gif", "--fps", "0"},
         2,
         "resrender: --fps takes a whole number from 1 to 50, not \"0\"\n"},
        {{"--gif", "g.gif", "--fps=51"},
         2,
         "resrender: --fps takes a whole number from 1 to 50, not \"51\"\n"},
        {{"--png", "p", "--size", "300x0"},
         2,
         "resrender: --size takes a size WxH, each side from 1 to 4096, not \"300x0\"\n"},
        {{"--png", "p", "--size", "4097x300"}, 2, "resrender: --size takes a size WxH"},
        {{"--png", "p", "--rot-x", "1,5"},
         2,
         "resrender: --rot-x takes a decimal number, not \"1,5\"\n"},
        {{"--png", "p", "--tz", "1e39"},
         2,
         "resrender: --tz takes a decimal number, not \"1e39\"\n"},
        {{"--png", "p", "--last", "1011"},
         2,
         "resrender: --last takes a whole number from 0 to 1010, not \"1011\"\n"},
        {{"--png", "p", "--every", "0"},
         2,
         "resrender: --every takes a whole number from 1 to 1010, not \"0\"\n"},
        {{"--png", "p", "--first", "5", "--last", "4"},
         2,
         "resrender: --first (5) comes after --last (4)\n"},
        {{"--png", "p", "--poll", "2"}, 2, "resrender: --poll applies only with --follow\n"},
        {{"--png", "p", "--fit", "--tz=-30"},
         2,
         "resrender: --fit chooses --centre, --tx, --ty and --tz itself: give either --fit or "
         "them\n"},
        {{"--png", "p", "a", "b"}, 2, "resrender: more than one directory given: b\n"},
    };
    for (const auto &c : cases) {
        Outcome o = resrender(dir, c.args, c.env);
        std::string args;
        for (const auto &a : c.args)
            args += a + " ";
        EXPECT_EQ(o.status, c.status) << args << "\n" << o.err;
        EXPECT_EQ(o.err.rfind(c.err_start, 0), 0u) << args << "\n" << o.err;
        EXPECT_EQ(o.out, "");
        // A usage error in two lines: what was wrong, and where the usage is.
        if (c.status == 2) {
            EXPECT_EQ(o.err.substr(o.err.find('\n') + 1), "see resrender --help\n") << args;
        }
    }
    EXPECT_EQ(files_in(dir.path), (std::set<std::string>{"res0001.inp", "p"}));
    EXPECT_EQ(read_png(dir.path + "/p/res0001.png").w, 64);
}

// A non-square animation of two identical frames and a third: every frame as wide and high as
// asked, the repeated one kept (with its time) and equal to its PNG.
TEST(Resrender, NonSquareGifWithARepeatedFrame)
{
    TempDir dir;
    dir.write("res0000.inp", GOOD);
    dir.write("res0001.inp", GOOD);
    dir.write("res0002.inp", OTHER);
    Outcome o = resrender(dir, {"--last", "2", "--size", "96x40", "--png", "p", "--gif", "g.gif"});
    ASSERT_EQ(o.status, 0) << o.err;
    Gif gif = read_gif(dir.path + "/g.gif");
    ASSERT_TRUE(gif.ok);
    ASSERT_EQ(gif.frames.size(), 3u);
    EXPECT_EQ(gif.delays_cs, (std::vector<int>{4, 4, 4}));
    for (int i = 0; i < 3; ++i) {
        Image png = read_png(dir.path + "/p/res000" + std::to_string(i) + ".png");
        EXPECT_EQ(png.w, 96);
        EXPECT_EQ(png.h, 40);
        EXPECT_EQ(gif.frames[(size_t)i].w, 96);
        EXPECT_EQ(gif.frames[(size_t)i].h, 40);
        EXPECT_EQ(gif.frames[(size_t)i].px, png.px) << "frame " << i;
    }
    EXPECT_NE(gif.frames[1].px, gif.frames[2].px);
}

// What an output that cannot be written, or a stop signal, leaves: every file whole under its
// name or absent, no temporary, the earlier GIF as it was, the summary counting the files there.
TEST(Resrender, StoppedRunsLeaveWholeFilesOnly)
{
    TempDir dir;
    Outcome gen =
        run_program({SAMPLE_SERIES_EXE, "--max-size", "--last", "120", "series"}, dir.path);
    ASSERT_EQ(gen.status, 0) << gen.err;
    const struct {
        const char *what;
        long fsize_limit;        // bytes a file may grow to, 0 for no limit
        const char *blocked_png; // a directory of this name in the way, if any
        int stop_signal;         // sent once three PNG files are there
        const char *err;
    } cases[] = {
        {"GIF past the file size limit", 60000, nullptr, 0,
         "resrender: cannot write g.gif: write: File too large\n"},
        {"a PNG's name taken by a directory", 0, "res0003.png", 0,
         "resrender: cannot write p/res0003.png: rename: Is a directory\n"},
        {"SIGINT", 0, nullptr, SIGINT, ", stopped by SIGINT; PNG files in p"},
        {"SIGTERM", 0, nullptr, SIGTERM, ", stopped by SIGTERM; PNG files in p"},
    };
    for (const auto &c : cases) {
        std::error_code ec;
        std::filesystem::remove_all(dir.path + "/p", ec);
        dir.write("g.gif", "an earlier animation");
        if (c.blocked_png)
            std::filesystem::create_directories(dir.path + "/p/" + c.blocked_png);
        std::vector<std::string> env = gl_program_env();
        env.push_back("DISPLAY");
        Child child;
        long limit = c.fsize_limit;
        ASSERT_TRUE(start_child(
            &child, dir.path,
            [limit] {
                if (limit > 0) {
                    rlimit r{(rlim_t)limit, (rlim_t)limit};
                    setrlimit(RLIMIT_FSIZE, &r);
                    signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG
                }
                execl(RESRENDER_EXE, RESRENDER_EXE, "--png", "p", "--gif", "g.gif", "series",
                      (char *)nullptr);
                _exit(127);
            },
            env));
        if (c.stop_signal) {
            double deadline = now_ms() + 30000;
            while (files_in(dir.path + "/p").size() < 3 && now_ms() < deadline)
                usleep(10000);
            kill(child.pid, c.stop_signal);
        }
        ASSERT_TRUE(wait_exit(&child, 60000)) << c.what;
        if (c.stop_signal) {
            EXPECT_EQ(child.signal, c.stop_signal) << c.what << "\n" << child.err;
        } else {
            EXPECT_EQ(child.status, 1) << c.what << "\n" << child.err;
        }
        EXPECT_NE(child.err.find(c.err), std::string::npos) << c.what << "\n" << child.err;
        EXPECT_EQ(contents(dir.path + "/g.gif"), "an earlier animation") << c.what;
        EXPECT_EQ(files_in(dir.path).count("g.gif"), 1u);
        int pngs = 0;
        for (const auto &name : files_in(dir.path + "/p")) {
            if (c.blocked_png && name == c.blocked_png)
                continue;
            EXPECT_EQ(name.rfind("res0", 0), 0u) << c.what << ": " << name << " left";
            EXPECT_EQ(read_png(dir.path + "/p/" + name).w, 300) << c.what << ": " << name;
            ++pngs;
        }
        EXPECT_EQ(files_in(dir.path), (std::set<std::string>{"series", "p", "g.gif"})) << c.what;
        EXPECT_NE(child.err.find("resrender: " + std::to_string(pngs) + " rendered in "),
                  std::string::npos)
            << c.what << "\n"
            << child.err;
        EXPECT_LT(pngs, 121) << c.what;
    }
}

// --mark in the start view, where mesh point (x, y) lands on pixel ((x / 5 + 1) 150,
// (1 - y / 5) 150): yellow fills the one inverted triangle (it turns against the other three) and
// covers its outline, the degenerate one is a yellow line, and nothing else is yellow.
TEST(Resrender, MarksFillInvertedAndDrawDegenerateElements)
{
    TempDir dir;
    dir.write("res0001.inp", "15 5\n"
                             "1 1 2 3\n2 4 5 6\n3 7 8 9\n4 10 11 12\n5 13 14 15\n"
                             "1 -4 -4\n2 -2 -4\n3 -4 -2\n"    // counter-clockwise
                             "4 2 -4\n5 4 -4\n6 4 -2\n"       // counter-clockwise
                             "7 -4 2\n8 -2 2\n9 -4 4\n"       // counter-clockwise
                             "10 1 1\n11 1 4\n12 4 1\n"       // clockwise: inverted
                             "13 -1 -1\n14 0 -1\n15 1 -1\n"); // on one line: degenerate
    const uint32_t YELLOW = 0xffff00, RED = 0xff0000;
    for (bool mark : {false, true}) {
        std::vector<std::string> args = {"--first", "1", "--last", "1", "--png", "p"};
        if (mark)
            args.emplace_back("--mark");
        Outcome o = resrender(dir, args);
        ASSERT_EQ(o.status, 0) << o.err;
        Image img = read_png(dir.path + "/p/res0001.png");
        ASSERT_EQ(img.w, 300);
        int yellow_line = 0, stray = 0, unfilled = 0;
        for (int py = 0; py < 300; ++py) {
            for (int px = 0; px < 300; ++px) {
                // The pixel's centre in pixels; the inverted triangle's corners are (180, 120),
                // (180, 30), (270, 120): inside by at least 2 pixels, or outside by 2.
                double x = px + 0.5, y = py + 0.5;
                double inside = std::min({x - 180, 120 - y, (270 - x) - (120 - y)});
                uint32_t c = img.at(px, py);
                bool on_line = std::abs(y - 180) < 2.5 && x > 118 && x < 182;
                bool near_corner = false; // a marked corner is drawn 3 pixels wide
                for (const auto &k : {std::pair<double, double>{180, 120}, {180, 30}, {270, 120}})
                    near_corner |= std::abs(x - k.first) < 2.5 && std::abs(y - k.second) < 2.5;
                if (inside >= 2)
                    unfilled += mark && c != YELLOW;
                else if (inside <= -2 && !on_line && !near_corner)
                    stray += c == YELLOW;
                yellow_line += on_line && c == YELLOW;
            }
        }
        EXPECT_EQ(unfilled, 0) << "mark " << mark;
        EXPECT_EQ(stray, 0) << "mark " << mark;
        EXPECT_EQ(yellow_line > 50, mark) << yellow_line;
        // The outline of the inverted triangle is red without marks and yellow with them: its
        // upright and its lower edge along their length.
        const uint32_t edge = mark ? YELLOW : RED;
        int upright = 0, lower = 0;
        for (int t = 40; t < 110; ++t) {
            upright += img.at(179, t) == edge || img.at(180, t) == edge;
            lower += img.at(t + 150, 119) == edge || img.at(t + 150, 120) == edge;
        }
        EXPECT_EQ(upright, 70) << "mark " << mark;
        EXPECT_GE(lower, 69) << "mark " << mark;
    }

    // A folding series: the marks of a file are the same whatever part of the series is drawn.
    ASSERT_EQ(
        run_program({SAMPLE_SERIES_EXE, "--fold", "25", "--last", "33", "f"}, dir.path).status, 0);
    for (const auto &range : {std::vector<std::string>{}, {"--first", "31"}, {"--every", "11"}}) {
        std::vector<std::string> args = {"--mark", "--png", "m", "f"};
        args.insert(args.begin(), range.begin(), range.end());
        ASSERT_EQ(resrender(dir, args).status, 0);
        const std::string shown = range.empty() ? "the whole series" : range[0];
        Image img = read_png(dir.path + "/m/res0033.png");
        EXPECT_GT(std::count(img.px.begin(), img.px.end(), YELLOW), 100) << shown;
        if (range.empty())
            std::filesystem::rename(dir.path + "/m", dir.path + "/whole");
        else
            EXPECT_EQ(contents(dir.path + "/m/res0033.png"),
                      contents(dir.path + "/whole/res0033.png"))
                << shown;
    }
}

// Frames are drawn into a framebuffer object with the origin moved to the upper left; where
// OpenGL cannot move it, into the pbuffer, as a window is drawn. Both give the same pixels:
// max-size meshes, large pictures, turned views, with and without marks.
TEST(Resrender, FramebufferAndPbufferGiveTheSamePixels)
{
    TempDir dir;
    ASSERT_EQ(
        run_program({SAMPLE_SERIES_EXE, "--max-size", "--last", "7", "--fold", "3", "s"}, dir.path)
            .status,
        0);
    const std::vector<std::vector<std::string>> views = {
        {"--size", "1920x1080"},
        {"--size", "1920x1080", "--rot-x", "-20", "--rot-y", "30", "--tx", "0.3"},
        {"--size", "1920x1080", "--rot-x", "70", "--rot-y", "200", "--tx", "0.3", "--tz", "-9"},
        {"--size", "301x177", "--rot-y", "180", "--ty", "0.05", "--mark"},
    };
    for (const auto &view : views) {
        for (const char *out : {"fbo", "pbuffer"}) {
            std::vector<std::string> args = view;
            args.insert(args.end(), {"--png", out, "s"});
            const char *env = out == std::string("pbuffer")
                                  ? "MESA_EXTENSION_OVERRIDE=-GL_ARB_clip_control"
                                  : nullptr;
            Outcome o = resrender(dir, args, env);
            ASSERT_EQ(o.status, 0) << o.err;
        }
        for (int n = 0; n < 8; ++n) {
            std::string name = "/res000" + std::to_string(n) + ".png";
            Image a = read_png(dir.path + "/fbo" + name),
                  b = read_png(dir.path + "/pbuffer" + name);
            ASSERT_GT(a.w, 0);
            long differ = 0;
            for (std::size_t i = 0; i < a.px.size() && a.px.size() == b.px.size(); ++i)
                differ += a.px[i] != b.px[i];
            EXPECT_TRUE(a.w == b.w && a.h == b.h && differ == 0)
                << view[1] << " " << view.back() << ", file " << n << ": " << differ;
        }
    }
}

// A mesh in millimetres where the view expects metres: its pictures come out black, and a line
// says so and why. --fit fills the picture with it and prints the view, with which a later run
// draws the same pictures byte for byte.
TEST(Resrender, AMeshOutsideThePictureIsNamedAndFit)
{
    TempDir dir;
    const auto scaled = [](double k, double dx) {
        std::string s = "4 2\n1 1 2 3\n2 1 3 4\n";
        const double xy[4][2] = {{-4, -2}, {4, -2}, {4, 2}, {-4, 2}};
        for (int i = 0; i < 4; ++i)
            s += std::to_string(i + 1) + " " + std::to_string(xy[i][0] * k + dx) + " " +
                 std::to_string(xy[i][1] * k) + "\n";
        return s;
    };
    dir.write("res0000.inp", scaled(20, 230));
    dir.write("res0001.inp", scaled(25, 230));
    Outcome o = resrender(dir, {"--png", "p"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err.rfind("res0000.inp and 1 more file: the mesh (x 150..310, y -40..40 in "
                          "res0000.inp) lies outside the picture; try --fit\n",
                          0),
              0u)
        << o.err;
    EXPECT_EQ(read_png(dir.path + "/p/res0000.png").px, std::vector<uint32_t>(300 * 300, 0));

    o = resrender(dir, {"--fit", "--png", "fit"});
    EXPECT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(o.out.rfind("view: --centre 230,0 --tx 0 --ty 0 --tz ", 0), 0u) << o.out;
    EXPECT_EQ(o.err.find("outside the picture"), std::string::npos) << o.err;
    // The larger mesh, 250 by 100 around x = 230, fills the width but for the margins.
    Image png = read_png(dir.path + "/fit/res0001.png");
    int left = png.w, right = -1;
    for (int y = 0; y < png.h; ++y)
        for (int x = 0; x < png.w; ++x)
            if (png.at(x, y) != 0) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_GE(left, 3);
    EXPECT_LE(left, 12);
    EXPECT_GE(right, 287);
    EXPECT_LE(right, 296);

    // A follow that starts before any file frames the first one, and names once a later file
    // that runs out of that view.
    TempDir empty;
    Child c;
    std::vector<std::string> env = gl_program_env();
    env.push_back("DISPLAY");
    ASSERT_TRUE(spawn(&c, {RESRENDER_EXE, "--fit", "--follow", "--idle", "1", "--png", "f", "."},
                      empty.path, env));
    for (int n = 0; n < 3; ++n) {
        const std::string name = "res000" + std::to_string(n);
        empty.write(name + ".inp", scaled(20 + 10 * n, 230));
        for (double end = now_ms() + 10000;
             !std::filesystem::exists(empty.path + "/f/" + name + ".png") && now_ms() < end;)
            pump(&c, 20);
    }
    ASSERT_TRUE(wait_exit(&c, 20000));
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.out.rfind("view: --centre 230,0 --tx 0 --ty 0 --tz ", 0), 0u) << c.out;
    EXPECT_EQ(c.err.rfind("res0001.inp: the mesh (x 110..350, y -60..60) runs out of the view "
                          "that --fit chose at the start; ",
                          0),
              0u)
        << c.err;
    EXPECT_EQ(c.err.find("res0002.inp:"), std::string::npos) << "named once";

    std::vector<std::string> again = {"--png", "again"};
    std::istringstream view(o.out.substr(6));
    for (std::string word; view >> word;)
        again.push_back(word);
    o = resrender(dir, again);
    EXPECT_EQ(o.status, 0) << o.err;
    for (const char *name : {"res0000.png", "res0001.png"})
        EXPECT_EQ(contents(dir.path + "/fit/" + name), contents(dir.path + "/again/" + name))
            << name;
}

} // namespace
