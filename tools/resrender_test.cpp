// The real resrender with no display: what it writes for a series with gaps and broken files,
// its animation as giflib decodes it, its exit statuses.
#include "child.h"
#include "image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

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
    EXPECT_NE(o.err.find("resrender: 3 rendered, 1007 missing, 1 broken in "), std::string::npos)
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
    EXPECT_EQ(files_in(dir.path).count("a.gif.tmp"), 0u);
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
        {{}, 2, "resrender: nothing to write: give --png, --gif or both\nusage: resrender"},
        {{"--png"}, 2, "resrender: a value is missing after --png\n"},
        {{"--frobnicate", "--png", "p"}, 2, "resrender: unknown option --frobnicate\n"},
        {{"--gif", "g.gif", "--fps", "0"}, 2, "resrender: not a valid value for --fps: 0\n"},
        {{"--gif", "g.gif", "--fps=51"}, 2, "resrender: not a valid value for --fps: 51\n"},
        {{"--png", "p", "--size", "300x0"}, 2, "resrender: not a valid value for --size: 300x0\n"},
        {{"--png", "p", "--size", "4097x300"}, 2, "resrender: not a valid value for --size"},
        {{"--png", "p", "--rot-x", "1,5"}, 2, "resrender: not a valid value for --rot-x: 1,5\n"},
        {{"--png", "p", "--tz", "1e39"}, 2, "resrender: not a valid value for --tz: 1e39\n"},
        {{"--png", "p", "--last", "1011"}, 2, "resrender: not a valid value for --last: 1011\n"},
        {{"--png", "p", "--first", "5", "--last", "4"}, 2, "resrender: --first comes after --last"},
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
        if (c.status == 2) {
            EXPECT_NE(o.err.find("usage: resrender [OPTIONS] [DIR]"), std::string::npos) << args;
        }
    }
    EXPECT_EQ(files_in(dir.path), (std::set<std::string>{"res0001.inp", "p"}));
    EXPECT_EQ(read_png(dir.path + "/p/res0001.png").w, 64);
}

} // namespace
