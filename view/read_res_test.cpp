// The viewer's load step: a result file loaded, or the process ended with the viewer's message.
#include "view/read_res.h"

#include "tests/support/child.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

// Each read starts from a cleared record: nothing of a larger earlier file shows through.
TEST(ReadRes, EarlierFileLeavesNoTrace)
{
    TempDir dir;
    dir.write("res0001.inp", "4 2\n1 1 2 3\n2 2 4 3\n1 0 0\n2 1 0\n3 0 1\n4 1.5 -0.2\n");
    dir.write("res0002.inp", "1 0\n1 7 8\n");
    Outcome o = run_child(dir.path, [] {
        Mesh a = read_res(1);
        Mesh b = read_res(2);
        static Mesh zero;
        zero.np = 1;
        zero.x[0] = 7;
        zero.y[0] = 8;
        std::printf("%d %d %d", a.nele, b.np, std::memcmp(&b, &zero, sizeof b) == 0 ? 1 : 0);
    });
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "2 1 1");
}

const char SJIS[] = "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x83\x49\x81\x5b\x83\x76\x83\x93"
                    "\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\n";
const char UTF8[] = "ファイルがオープンできません\n";
const char EUCJP[] = "\xa5\xd5\xa5\xa1\xa5\xa4\xa5\xeb\xa4\xac\xa5\xaa\xa1\xbc\xa5\xd7\xa5\xf3"
                     "\xa4\xc7\xa4\xad\xa4\xde\xa4\xbb\xa4\xf3\n";

// The open failure: the message in the console's encoding on stdout, the reason on stderr,
// status 1.
TEST(ReadRes, OpenFailureSpeaksTheConsoleEncoding)
{
    TempDir dir;
    const struct {
        const char *lc_all;
        const char *lang;
        const char *want;
    } cases[] = {
        {"", "ja_JP.SJIS", SJIS},
        {"ja_JP.Shift_JIS", "C.UTF-8", SJIS},
        {"", "ja_JP.UTF-8", UTF8},
        {"", "C", UTF8},
        {"", "POSIX", UTF8},
        {"", "", UTF8},
        {"", "en_US.ISO-8859-1", UTF8},
        {"", "ja_JP.eucJP", EUCJP},
        {"de_DE.utf8@euro", "ja_JP.SJIS", UTF8},
    };
    for (const auto &c : cases) {
        Outcome o = run_child(dir.path, [&] {
            setenv("LC_ALL", c.lc_all, 1);
            unsetenv("LC_CTYPE");
            setenv("LANG", c.lang, 1);
            read_res(2);
        });
        EXPECT_EQ(o.status, 1) << c.lang;
        EXPECT_EQ(o.out, c.want) << "LC_ALL=" << c.lc_all << " LANG=" << c.lang;
        if (c.want == SJIS) {
            EXPECT_EQ(o.out.size(), 29u) << "the message in Shift-JIS with its line feed";
        }
        EXPECT_EQ(o.err, "cannot open res0002.inp: No such file or directory\n");
    }

    for (int n : {-1, 1011}) {
        Outcome o = run_child(dir.path, [n] {
            setenv("LANG", "C", 1);
            read_res(n);
        });
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, UTF8);
        EXPECT_EQ(o.err, "no result file has index " + std::to_string(n) +
                             ": the series runs from 0 to 1010\n");
    }
}

TEST(ReadRes, MalformedFileEndsWithItsLine)
{
    TempDir dir;
    std::string text = "10 5\n1 1 2 3\n2 1 2 3\n3 1 2 3\n4 1 2 3\n5 12 1 2\n";
    dir.write("res0003.inp", text);
    Outcome o = run_child(dir.path, [] { read_res(3); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "res0003.inp:6: element 5 names node 12, but the file has 10 nodes\n");

    dir.write("res0004.inp", "3 1\n1 1 2 3\n1 0 0\n2 0 0\n3 0 1.0.0\n");
    o = run_child(dir.path, [] { read_res(4); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "res0004.inp:5:5: y coordinate should be a decimal number, found \"1.0.0\"\n");
}

} // namespace
