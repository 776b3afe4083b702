// What the programs beside the viewer share: the command line (called directly), and every
// program against names in the series that are not regular files.
#include "child.h"
#include "series_tool.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{

// One option of each kind, as the programs declare them.
struct Taken {
    int first = -1;
    float tx = 0;
    std::string gif;
    std::string size;
    bool ascii = false;
};

std::vector<Option> options(Taken *t)
{
    return {
        {"--first", Takes::NUMBER, [t](const char *v) { return parse_int(v, 0, 1010, &t->first); }},
        {"--tx", Takes::NUMBER,
         [t](const char *v) {
             double d = 0;
             return parse_number(v, &d) && (t->tx = (float)d, true);
         }},
        {"--gif", Takes::PATH, [t](const char *v) { return !(t->gif = v).empty(); }},
        {"--size", Takes::TEXT, [t](const char *v) { return !(t->size = v).empty(); }},
        {"--ascii", Takes::NOTHING, [t](const char *) { return t->ascii = true; }},
        {"-o", Takes::PATH, [t](const char *v) { return !(t->gif = v).empty(); }},
    };
}

TEST(CommandLine, OneRuleForEveryProgram)
{
    const struct {
        std::vector<const char *> args;
        int status;
        const char *error; // for status 2
        const char *dir;
        int first;
        float tx;
        const char *gif;
    } cases[] = {
        {{}, -1, "", nullptr, -1, 0, ""},
        {{"--first", "3", "d"}, -1, "", "d", 3, 0, ""},
        {{"--first=3", "--tx=-0.5"}, -1, "", nullptr, 3, -0.5f, ""},
        {{"--tx", "-0.5", "--", "-d"}, -1, "", "-d", -1, -0.5f, ""},
        {{"--gif=--png", "-"}, -1, "", "-", -1, 0, "--png"},
        {{"-o", "a=b.gif"}, -1, "", nullptr, -1, 0, "a=b.gif"},
        {{"-o=-x.pvd"}, -1, "", nullptr, -1, 0, "-x.pvd"},
        {{"--", "--help"}, -1, "", "--help", -1, 0, ""},
        {{"d", "-h", "--frobnicate"}, 0, "", nullptr, -1, 0, ""},
        {{"--help"}, 0, "", nullptr, -1, 0, ""},
        {{"--frobnicate"}, 2, "unknown option --frobnicate", nullptr, -1, 0, ""},
        {{"--first"}, 2, "a value is missing after --first", nullptr, -1, 0, ""},
        {{"--first", ""}, 2, "not a valid value for --first: ", nullptr, -1, 0, ""},
        {{"--first="}, 2, "not a valid value for --first: ", nullptr, -1, 0, ""},
        {{"--first", "1011"}, 2, "not a valid value for --first: 1011", nullptr, -1, 0, ""},
        {{"--first", " 3"}, 2, "not a valid value for --first:  3", nullptr, -1, 0, ""},
        {{"--ascii=yes"}, 2, "--ascii takes no value", nullptr, -1, 0, ""},
        {{"--gif", "--png", "p"},
         2,
         "a value is missing after --gif (--png looks like an option; write --gif=--png for a "
         "name that begins with '-')",
         nullptr,
         -1,
         0,
         ""},
        {{"a", "b"}, 2, "more than one directory given: b", nullptr, -1, 0, ""},
        {{"--", "a", "--", "b"}, 2, "more than one directory given: --", nullptr, -1, 0, ""},
    };
    for (const auto &c : cases) {
        std::vector<char *> argv = {const_cast<char *>("prog")};
        std::string shown;
        for (const char *a : c.args) {
            argv.push_back(const_cast<char *>(a));
            shown += std::string(" ") + a;
        }
        Taken t;
        CommandLine cl = read_command_line((int)argv.size(), argv.data(), options(&t));
        EXPECT_EQ(cl.status, c.status) << shown;
        EXPECT_EQ(cl.error, c.status == 2 ? c.error : "") << shown;
        if (c.status != -1)
            continue;
        EXPECT_STREQ(cl.dir, c.dir) << shown;
        EXPECT_EQ(t.first, c.first) << shown;
        EXPECT_EQ(t.tx, c.tx) << shown;
        EXPECT_EQ(t.gif, c.gif) << shown;
    }
}

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

} // namespace
