// The real resview on a private Xvfb with Mesa's software OpenGL, driven by real key and mouse
// events, judged by its standard output, exit status and the window's pixels.
// GoogleTest comes before Xlib, whose macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include "resfile/series_health.h"
#include "tests/support/x_session.h"

#include <X11/keysym.h>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>

namespace
{

const uint32_t RED = 0xff0000;

// The programs under test: the build's own unless RESVIEW_EXE or RESRENDER_EXE names another
// (an installed one).
std::string program(const char *var, const char *built)
{
    const char *e = std::getenv(var);
    return e && *e ? e : built;
}
std::string resview_exe()
{
    return program("RESVIEW_EXE", RESVIEW_BUILD_EXE);
}

std::string node_file(std::initializer_list<std::pair<double, double>> nodes, const char *eles = "")
{
    int nele = 0;
    for (const char *p = eles; *p; ++p)
        nele += *p == '\n';
    std::string s = std::to_string(nodes.size()) + " " + std::to_string(nele) + "\n" + eles;
    int k = 0;
    char line[96];
    for (const auto &n : nodes) {
        std::snprintf(line, sizeof line, "%d %.6e %.6e\n", ++k, n.first, n.second);
        s += line;
    }
    return s;
}

// Nodes (0, 0), (4, 0), (0, 4) joined by one triangle, and (-3, -3) that no element uses.
const std::string FILE_1 = node_file({{0, 0}, {4, 0}, {0, 4}, {-3, -3}}, "1 1 2 3\n");
const std::string FILE_2 = node_file({{-4, 0}, {-2, 0}, {-4, 2}}, "1 1 2 3\n");
const std::string FILE_11 = node_file({{0, -4}});

bool red_near(const Image &img, int x, int y, int tol = 2)
{
    for (int dy = -tol; dy <= tol; ++dy)
        for (int dx = -tol; dx <= tol; ++dx)
            if (img.at(x + dx, y + dy) == RED)
                return true;
    return false;
}

int count_red(const Image &img)
{
    int n = 0;
    for (uint32_t p : img.px)
        n += p == RED;
    return n;
}

class EndToEnd : public ::testing::Test
{
  protected:
    XServer server;
    Display *dpy = nullptr;
    TempDir dir;
    Child viewer;
    Window win = 0;

    void SetUp() override
    {
        ASSERT_TRUE(start_xvfb(&server));
        dpy = XOpenDisplay(server.display.c_str());
        ASSERT_NE(dpy, nullptr);
        dir.write("res0001.inp", FILE_1);
    }
    void TearDown() override
    {
        kill_child(&viewer);
        if (dpy) {
            release_all(dpy);
            XCloseDisplay(dpy);
        }
        stop_xvfb(&server);
    }

    // Starts resview in the scratch directory and waits for its first picture.
    void launch(const std::vector<std::string> &args = {})
    {
        std::vector<std::string> argv = {resview_exe()};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(spawn(&viewer, argv, dir.path, gl_program_env()));
        win = find_window(dpy, "Sample 6", 20000);
        ASSERT_NE(win, 0u) << viewer.err;
        ASSERT_TRUE(park_window(dpy, win, 100, 100));
        ASSERT_TRUE(focus_window(dpy, win));
        settle();
    }

    // The picture once it has stopped changing for a while.
    Image settle(int quiet_ms = 300)
    {
        Image img = grab(dpy, win);
        for (int i = 0; i < 100; ++i) {
            bool changed = false;
            img = wait_for_change(dpy, win, img, quiet_ms, &changed);
            if (!changed)
                break;
        }
        return img;
    }

    // Presses a key and waits for the echo line that follows it.
    Image key(unsigned long keysym, bool shift, const std::string &echo)
    {
        press_key(dpy, keysym, shift);
        EXPECT_TRUE(wait_for_output(&viewer, echo, 10000)) << "waiting for " << echo << "\n"
                                                           << viewer.out << viewer.err;
        return settle();
    }
};

TEST_F(EndToEnd, FirstPictureInTheFixedView)
{
    launch();
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(dpy, win, &a));
    EXPECT_EQ(a.width, 300);
    EXPECT_EQ(a.height, 300);
    EXPECT_EQ(window_title(dpy, win), "Sample 6");
    Image img = grab(dpy, win);
    EXPECT_TRUE(red_near(img, 150, 150)) << "node (0, 0) at the centre";
    EXPECT_TRUE(red_near(img, 270, 150)) << "node (4, 0)";
    EXPECT_TRUE(red_near(img, 150, 30)) << "node (0, 4)";
    EXPECT_TRUE(red_near(img, 60, 240)) << "node (-3, -3), used by no element";
    EXPECT_TRUE(red_near(img, 210, 90, 1)) << "outline from (4, 0) back to (0, 4)";
    EXPECT_EQ(img.at(50, 50), 0u) << "black background";
    EXPECT_EQ(img.at(250, 250), 0u);
    EXPECT_EQ(img.at(100, 200), 0u) << "inside the triangle: outlines only";
    EXPECT_EQ(viewer.out, "");
}

TEST_F(EndToEnd, ResizeStretchesTheMesh)
{
    launch();
    ASSERT_TRUE(resize_window(dpy, win, 600, 300));
    Image img = settle();
    ASSERT_EQ(img.w, 600);
    EXPECT_TRUE(red_near(img, 540, 150)) << "node (4, 0)";
    EXPECT_TRUE(red_near(img, 300, 150)) << "node (0, 0)";
    EXPECT_TRUE(red_near(img, 300, 30)) << "node (0, 4)";
    EXPECT_FALSE(red_near(img, 270, 150, 1));
}

TEST_F(EndToEnd, MissingFirstFileEndsWithTheMessage)
{
    std::remove((dir.path + "/res0001.inp").c_str());
    ASSERT_TRUE(spawn(&viewer, {resview_exe()}, dir.path, gl_program_env()));
    ASSERT_TRUE(wait_exit(&viewer, 20000));
    EXPECT_EQ(viewer.status, 1);
    EXPECT_EQ(viewer.out, "ファイルがオープンできません\n");
    EXPECT_EQ(viewer.err, "cannot open res0001.inp: No such file or directory\n");
}

TEST_F(EndToEnd, MalformedFirstFileNamesItsLine)
{
    dir.write("res0001.inp", "3 1\n1 1 2 9\n");
    ASSERT_TRUE(spawn(&viewer, {resview_exe()}, dir.path, gl_program_env()));
    ASSERT_TRUE(wait_exit(&viewer, 20000));
    EXPECT_EQ(viewer.status, 1);
    EXPECT_EQ(viewer.out, "");
    EXPECT_EQ(viewer.err, "res0001.inp:2: element 1 names node 9, but the file has 3 nodes\n");
}

TEST_F(EndToEnd, StepsThroughTheSeries)
{
    dir.write("res0002.inp", FILE_2);
    dir.write("res0011.inp", FILE_11);
    dir.write("res0012.inp", FILE_11);
    launch();
    // The echo line carries the count of the mesh shown until then.
    Image img = key(XK_n, false, "file_no:2 nele:1\n");
    EXPECT_TRUE(red_near(img, 30, 150)) << "file 2's node (-4, 0)";
    EXPECT_FALSE(red_near(img, 150, 150));
    img = key(XK_b, false, "file_no:1 nele:1\n");
    EXPECT_TRUE(red_near(img, 150, 150));
    img = key(XK_n, true, "file_no:11 nele:1\n");
    EXPECT_TRUE(red_near(img, 150, 270)) << "file 11's node (0, -4)";
    EXPECT_EQ(count_red(img), 1);
    key(XK_n, false, "file_no:12 nele:0\n");
    img = key(XK_b, true, "file_no:2 nele:0\n");
    EXPECT_TRUE(red_near(img, 30, 150));
    EXPECT_EQ(viewer.out, "file_no:2 nele:1\nfile_no:1 nele:1\nfile_no:11 nele:1\n"
                          "file_no:12 nele:0\nfile_no:2 nele:0\n");
}

TEST_F(EndToEnd, MReloadsTheFileFromDisk)
{
    launch();
    Image img = key(XK_m, false, "file_no:1 nele:1\n");
    EXPECT_FALSE(red_near(img, 30, 150));
    dir.write("res0001.inp", FILE_2);
    img = key(XK_m, false, "file_no:1 nele:1\nfile_no:1 nele:1\n");
    EXPECT_TRUE(red_near(img, 30, 150));
    EXPECT_FALSE(red_near(img, 270, 150));
}

TEST_F(EndToEnd, LetterKeysMoveTheMesh)
{
    dir.write("res0001.inp", node_file({{0, 0}}));
    launch();
    std::string echo;
    for (int i = 0; i < 10; ++i) {
        echo += "file_no:1 nele:0\n";
        press_key(dpy, XK_c);
    }
    ASSERT_TRUE(wait_for_output(&viewer, echo, 10000)) << viewer.out;
    Image img = settle();
    EXPECT_TRUE(red_near(img, 180, 150, 1)) << "ten C presses: one unit, 30 pixels right";
    EXPECT_EQ(count_red(img), 1);
    // Shift+D brings the mesh plane from 15 to 14 units away: x = 1 lands 3/14 of the way out.
    echo += "file_no:1 nele:0\n";
    img = key(XK_d, true, echo);
    EXPECT_TRUE(red_near(img, 150 + (int)std::lround(150.0 * 3.0 / 14.0), 150, 1));
}

TEST_F(EndToEnd, NineUpPressesTurnTheMeshEdgeOn)
{
    launch();
    Image before = grab(dpy, win);
    for (int i = 0; i < 9; ++i)
        press_key(dpy, XK_Up);
    Image img = wait_for_change(dpy, win, before, 5000);
    img = settle(500);
    EXPECT_TRUE(red_near(img, 270, 150)) << "node (4, 0) stays on the axis";
    EXPECT_FALSE(red_near(img, 150, 30, 3)) << "node (0, 4) left its place";
    int off_line = 0;
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x)
            off_line += img.at(x, y) == RED && std::abs(y - 150) > 2;
    EXPECT_EQ(off_line, 0) << "the whole mesh on the middle row";
    EXPECT_EQ(viewer.out, "") << "arrow keys print nothing";
}

TEST_F(EndToEnd, DragTurnsAsPredicted)
{
    dir.write("res0001.inp", node_file({{4, 0}}));
    launch();
    // Press at window (100, 100), move to (130, 80): rot_x = -20, rot_y = 30.
    move_pointer(dpy, 200, 200);
    press_button(dpy, 1, true);
    move_pointer(dpy, 215, 190);
    move_pointer(dpy, 230, 180);
    press_button(dpy, 1, false);
    Image img = settle(500);
    // The node turned about y by 30 degrees, then about x by -20, then moved 15 units away.
    const double d = M_PI / 180.0;
    double x1 = 4 * std::cos(30 * d), z1 = -4 * std::sin(30 * d);
    double y2 = -z1 * std::sin(-20 * d), z2 = z1 * std::cos(-20 * d) - 15;
    int px = (int)std::lround(150 + 150 * (3 * x1 / -z2));
    int py = (int)std::lround(150 - 150 * (3 * y2 / -z2));
    EXPECT_TRUE(red_near(img, px, py, 2)) << "expected near " << px << "," << py;
    EXPECT_EQ(count_red(img), 1);
    EXPECT_EQ(viewer.out, "");
}

TEST_F(EndToEnd, QuitKeysEndWithStatusZero)
{
    for (unsigned long k : {(unsigned long)XK_Escape, (unsigned long)XK_q}) {
        launch();
        press_key(dpy, k);
        ASSERT_TRUE(wait_exit(&viewer, 10000));
        EXPECT_EQ(viewer.status, 0) << k;
        EXPECT_EQ(viewer.out + viewer.err, "") << k;
    }
}

TEST_F(EndToEnd, SteppingOntoAMissingFileEnds)
{
    launch();
    press_key(dpy, XK_b);
    ASSERT_TRUE(wait_exit(&viewer, 10000));
    EXPECT_EQ(viewer.status, 1);
    EXPECT_EQ(viewer.out, "file_no:0 nele:1\nファイルがオープンできません\n");
    EXPECT_EQ(viewer.err, "cannot open res0000.inp: No such file or directory\n");
}

// The renderer, with no display, draws file 1 pixel for pixel as the viewer's window shows it:
// the sample mesh and a max-size one, in the start view and after two sets of turns and moves
// made as keys, in the 300 x 300 window and in one stretched to 480 x 300.
TEST_F(EndToEnd, RendererMatchesTheWindow)
{
    const struct {
        std::vector<unsigned long> keys; // from the view before
        bool shift;
        std::vector<std::string> view;
    } views[] = {
        {{}, false, {}},
        {{XK_Down, XK_Down, XK_Left, XK_Left, XK_Left, XK_c, XK_c, XK_c},
         false,
         {"--rot-x", "-20", "--rot-y", "30", "--tx", "0.3"}},
        {{XK_Up,   XK_Up,   XK_Up,   XK_Up,   XK_Up,   XK_Up,   XK_Up,   XK_Up,
          XK_Up,   XK_Left, XK_Left, XK_Left, XK_Left, XK_Left, XK_Left, XK_Left,
          XK_Left, XK_Left, XK_Left, XK_Left, XK_Left, XK_Left, XK_Left, XK_Left,
          XK_Left, XK_Left, XK_d,    XK_d,    XK_d,    XK_d,    XK_d,    XK_d},
         true,
         {"--rot-x", "70", "--rot-y", "200", "--tx", "0.3", "--tz", "-9"}},
    };
    std::vector<std::string> env = gl_program_env();
    env.push_back("DISPLAY");
    for (bool max_size : {false, true}) {
        std::vector<std::string> gen = {SAMPLE_SERIES_EXE, "--last", "1", dir.path};
        if (max_size)
            gen.insert(gen.begin() + 1, "--max-size");
        Outcome g = run_program(gen, dir.path);
        ASSERT_EQ(g.status, 0) << g.err;
        kill_child(&viewer);
        launch();
        std::string echo;
        const std::string nele = max_size ? "4999" : "1280";
        for (const auto &v : views) {
            for (unsigned long k : v.keys) {
                // Shift makes the eye step 1.0 (D); the arrows do not care.
                press_key(dpy, k, v.shift && k == XK_d);
                if (k == XK_c || k == XK_d) {
                    echo += "file_no:1 nele:" + nele + "\n";
                    ASSERT_TRUE(wait_for_output(&viewer, echo, 10000)) << viewer.out;
                }
            }
            for (const auto &size : {std::pair<int, int>{300, 300}, {480, 300}}) {
                ASSERT_TRUE(resize_window(dpy, win, size.first, size.second));
                Image window = settle(500);
                std::vector<std::string> args = {program("RESRENDER_EXE", RESRENDER_BUILD_EXE),
                                                 "--first",
                                                 "1",
                                                 "--last",
                                                 "1",
                                                 "--size",
                                                 std::to_string(size.first) + "x" +
                                                     std::to_string(size.second),
                                                 "--png",
                                                 dir.path + "/out"};
                args.insert(args.end(), v.view.begin(), v.view.end());
                Outcome o = run_program(args, dir.path, env);
                ASSERT_EQ(o.status, 0) << o.err;
                Image picture = read_png(dir.path + "/out/res0001.png");
                ASSERT_EQ(picture.w, window.w);
                ASSERT_EQ(picture.h, window.h);
                int differ = 0;
                for (size_t i = 0; i < picture.px.size(); ++i)
                    differ += picture.px[i] != window.px[i];
                EXPECT_EQ(differ, 0) << (max_size ? "max-size" : "sample") << " mesh, view "
                                     << v.view.size() / 2 << ", " << window.w << "x" << window.h;
                EXPECT_GT(count_red(picture), 1000);
            }
        }
    }
}

// The box of the red pixels: left, top, right, bottom; left > right when there are none.
std::array<int, 4> red_box(const Image &img)
{
    std::array<int, 4> box = {img.w, img.h, -1, -1};
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x)
            if (img.at(x, y) == RED)
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x),
                       std::max(box[3], y)};
    return box;
}

// A series that a real solver wrote, in its own units: a rubber block 120 mm wide pressed until
// its mesh folds. Opened as it is, the viewer says that it lies mostly outside the window; with
// --fit it shows all of it, as resrender --fit frames it, and a drag turns it about the middle of
// the series' box. resrender's marks show every inverted element of the last file.
TEST_F(EndToEnd, ASolversSeriesInMillimetresFramedAndMarked)
{
    Outcome solver =
        run_program({"FreeFem++", "-nw", "-v", "0", PUNCH_SCRIPT, dir.path, "10"}, dir.path);
    ASSERT_EQ(solver.status, 0) << solver.out << solver.err;
    std::vector<std::string> env = gl_program_env();
    env.push_back("DISPLAY");
    Outcome r = run_program(
        {program("RESRENDER_EXE", RESRENDER_BUILD_EXE), "--fit", "--mark", "--png", "marks", "."},
        dir.path, env);
    ASSERT_EQ(r.status, 0) << r.err;
    double cx = 0, cy = 0, tz = 0;
    ASSERT_EQ(
        std::sscanf(r.out.c_str(), "view: --centre %lf,%lf --tx 0 --ty 0 --tz %lf", &cx, &cy, &tz),
        3)
        << r.out;
    // Where mesh point (x, y) lands once turned by rot_y degrees about the centre.
    const auto pixel = [&](double x, double y, double rot_y) {
        const double a = rot_y * M_PI / 180, ex = (x - cx) * std::cos(a);
        const double ez = tz - (x - cx) * std::sin(a);
        return std::pair<double, double>{(3 * ex / -ez + 1) * 150, (1 - 3 * (y - cy) / -ez) * 150};
    };

    launch();
    for (double end = now_ms() + 10000; viewer.err.empty() && now_ms() < end;)
        pump(&viewer, 20);
    EXPECT_EQ(viewer.err.rfind("resview: res0001.inp: the mesh (x ", 0), 0u) << viewer.err;
    EXPECT_NE(viewer.err.find(") lies mostly outside the window; try resview --fit\n"),
              std::string::npos)
        << viewer.err;
    kill_child(&viewer);

    auto mesh = std::make_unique<Mesh>();
    ASSERT_EQ(load_res(dir.path.c_str(), 1, mesh.get()).status, LoadStatus::LOADED);
    launch({"--fit"});
    for (double rot_y : {0.0, 60.0}) {
        if (rot_y > 0) {
            move_pointer(dpy, 250, 250);
            press_button(dpy, 1, true);
            move_pointer(dpy, 280, 250);
            move_pointer(dpy, 310, 250);
            press_button(dpy, 1, false);
        }
        std::array<int, 4> box = red_box(settle(500)), want = {300, 300, 0, 0};
        for (int i = 0; i < mesh->np; ++i) {
            auto p = pixel(mesh->x[i], mesh->y[i], rot_y);
            want = {std::min(want[0], (int)p.first), std::min(want[1], (int)p.second),
                    std::max(want[2], (int)p.first), std::max(want[3], (int)p.second)};
        }
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(box[k], want[k], 2) << "rot_y " << rot_y << ", side " << k;
    }
    EXPECT_EQ(viewer.out + viewer.err, "");

    Image img = read_png(dir.path + "/marks/res0009.png");
    ASSERT_EQ(load_res(dir.path.c_str(), 9, mesh.get()).status, LoadStatus::LOADED);
    SeriesHealth health(dir.path.c_str());
    const Health &h = health.measure(9, *mesh);
    ASSERT_GT(h.ninverted, 20);
    int unmarked = 0;
    for (int e = 0; e < mesh->nele; ++e) {
        double x = 0, y = 0;
        element_centroid(*mesh, e, &x, &y);
        auto p = pixel(x, y, 0);
        bool yellow = false;
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                yellow |= img.at((int)p.first + dx, (int)p.second + dy) == 0xffff00;
        unmarked += h.inverted[e] && !yellow;
    }
    EXPECT_EQ(unmarked, 0) << "of " << h.ninverted << " inverted elements";
}

int count_of(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Whether err is exactly one of the viewer's failure lines: an open failure, an index outside
// the series, or a malformed file.
bool is_failure_line(const std::string &err)
{
    if (err.empty() || err.find('\n') != err.size() - 1)
        return false;
    return err.rfind("cannot open res0", 0) == 0 ||
           err.rfind("no result file has index ", 0) == 0 ||
           (err.rfind("res0", 0) == 0 && err.find(".inp:") != std::string::npos);
}

// Random keys (every printable one but q, with and without Shift; arrows) and drags against a
// series that mixes good files with malformed ones and gaps, for a bounded time. The viewer may
// only end with status 1 and its message after stepping onto a bad or missing file, never by a
// signal, and must keep answering; each time it ends it is started again.
TEST_F(EndToEnd, MonkeyNeverCrashesOrHangs)
{
    const char *env_seconds = std::getenv("RESVIEW_MONKEY_SECONDS");
    const double seconds = env_seconds ? std::atof(env_seconds) : 60.0;
    // The same events every run, unless another seed is asked for.
    const char *env_seed = std::getenv("RESVIEW_MONKEY_SEED");
    const unsigned seed = env_seed ? (unsigned)std::strtoul(env_seed, nullptr, 10) : 20261210u;
    std::printf("monkey: seed %u (RESVIEW_MONKEY_SEED sets another)\n", seed);
    std::mt19937 rng(seed);

    // Files 0..40, with these bad and these missing; nothing beyond 40.
    const std::set<int> broken = {7, 12, 23, 38};
    const std::set<int> missing = {15, 16, 31};
    for (int n = 0; n <= 40; ++n) {
        if (missing.count(n))
            continue;
        char name[16];
        std::snprintf(name, sizeof name, "res0%03d.inp", n);
        if (n == 7)
            dir.write(name, "3 1\n1 1 2 9\n1 0 0\n2 1 0\n3 0 1\n");
        else if (n == 12)
            dir.write(name, "2 0\n1 0 0\n2 nan 1\n");
        else if (n == 23)
            dir.write(name, FILE_1.substr(0, FILE_1.size() / 2));
        else if (n == 38)
            dir.write(name, "5000 0\n");
        else
            dir.write(name, node_file({{-4.0 + n * 0.2, 0}, {0, 1.0 + n * 0.05}, {2, -2}},
                                      n % 2 ? "1 1 2 3\n" : ""));
    }
    long events = 0, restarts = 0;
    auto t_end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < t_end && !HasFailure()) {
        launch();
        if (HasFailure())
            break;
        int echoes = 0;
        int quiet = 0; // events since the viewer last had to answer
        while (std::chrono::steady_clock::now() < t_end && viewer.status == -2) {
            int kind = (int)(rng() % 10);
            bool shift = rng() % 3 == 0;
            if (kind < 6 || quiet >= 20) {
                unsigned long ks = 0x20 + rng() % 0x5f;
                if (ks == 'q' || ks == 'Q' || quiet >= 20)
                    ks = 'm'; // a plain reload answers too
                press_key(dpy, ks, shift && quiet < 20);
                ++events;
                quiet = 0;
                // Each character key answers with its echo line, or ends the viewer.
                double deadline = now_ms() + 10000;
                while (count_of(viewer.out, "file_no:") <= echoes && viewer.status == -2) {
                    wait_exit(&viewer, 20);
                    ASSERT_LT(now_ms(), deadline) << "no answer to key " << ks << "\n"
                                                  << viewer.out << viewer.err;
                }
                echoes = count_of(viewer.out, "file_no:");
            } else if (kind < 8) {
                static const unsigned long arrows[] = {XK_Left, XK_Up, XK_Right, XK_Down};
                press_key(dpy, arrows[rng() % 4], shift);
                ++events;
                ++quiet;
            } else {
                unsigned button = 1 + (unsigned)(rng() % 3);
                move_pointer(dpy, 100 + (int)(rng() % 300), 100 + (int)(rng() % 300));
                press_button(dpy, button, true);
                for (int m = 0; m < 4; ++m)
                    move_pointer(dpy, 60 + (int)(rng() % 380), 60 + (int)(rng() % 380));
                press_button(dpy, button, false);
                events += 6;
                ++quiet;
            }
        }
        if (viewer.status == -2)
            break; // time is up with the viewer alive
        // It ended: only by the failure exit, on a file that is bad, missing or not in the series.
        ASSERT_EQ(viewer.signal, 0) << viewer.err;
        ASSERT_EQ(viewer.status, 1) << viewer.out << viewer.err;
        ASSERT_TRUE(is_failure_line(viewer.err)) << viewer.err;
        size_t last = viewer.out.rfind("file_no:");
        ASSERT_NE(last, std::string::npos) << "ended without a key: " << viewer.err;
        int file_no = std::atoi(viewer.out.c_str() + last + 8);
        EXPECT_TRUE(file_no < 0 || file_no > 40 || broken.count(file_no) || missing.count(file_no))
            << "ended on file " << file_no << ", which is good\n"
            << viewer.err;
        if (viewer.err.compare(0, 12, "cannot open ") == 0 || viewer.err[0] == 'n') {
            EXPECT_EQ(viewer.out.substr(viewer.out.size() - 43), "ファイルがオープンできません\n");
        }
        ++restarts;
        kill_child(&viewer);
        release_all(dpy);
    }
    std::printf("monkey: %ld events, %ld restarts in %.0f s\n", events, restarts, seconds);
    RecordProperty("events", (int)events);
    RecordProperty("restarts", (int)restarts);
    EXPECT_GT(events, 0);
}

} // namespace
