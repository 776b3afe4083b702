// The real rescheck on generated series.
#include "child.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

const char GOOD[] = "3 1\n1 1 2 3\n1 0 0\n2 1 0\n3 0 1\n";

Outcome rescheck(const std::string &cwd, std::vector<std::string> args)
{
    args.insert(args.begin(), RESCHECK_EXE);
    return run_program(args, cwd);
}

TEST(Rescheck, ReportsRangesBrokenFilesAndStatus)
{
    TempDir dir;
    for (const char *name :
         {"res0000.inp", "res0001.inp", "res0002.inp", "res0005.inp", "res01010.inp"})
        dir.write(name, GOOD);

    Outcome o = rescheck(dir.path, {});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "present: 0-2, 5, 1010; missing: 3-4, 6-1009\n"
                     "from file 1, B and N reach 0-2 without ending the viewer\n"
                     "5 files present, 5 well formed, 0 broken; largest: 3 nodes, 1 elements\n"
                     "no element is inverted\n"
                     "worst quality: 0.866 in res0000.inp, element 1 at (0.333333, 0.333333)\n"
                     "largest displacement from one file to the next: 0 in res0001.inp, node 1 "
                     "at (0, 0)\n");

    // A half-written newest file and a malformed one in the middle, named by DIR.
    dir.write("res01010.inp", "3 1\n1 1 2 3\n1 0 0\n2 1");
    dir.write("res0002.inp", "3 1\n1 1 2 3\n1 0 0\n2 1 0\n3 0 1e999\n");
    o = rescheck("/", {dir.path});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, dir.path +
                         "/res0002.inp:5:5: y coordinate \"1e999\" is not a finite number\n" +
                         dir.path +
                         "/res01010.inp:4: file ends early: y coordinate of record 2 of 3 is "
                         "missing\n"
                         "present: 0-2, 5, 1010; missing: 3-4, 6-1009\n"
                         "from file 1, B and N reach 0-1 without ending the viewer\n"
                         "5 files present, 3 well formed, 2 broken; largest: 3 nodes, 1 "
                         "elements\n"
                         "no element is inverted\n"
                         "worst quality: 0.866 in res0000.inp, element 1 at (0.333333, 0.333333)\n"
                         "largest displacement from one file to the next: 0 in res0001.inp, node 1 "
                         "at (0, 0)\n");

    // Without file 1 the viewer cannot start.
    std::remove((dir.path + "/res0001.inp").c_str());
    std::remove((dir.path + "/res0002.inp").c_str());
    std::remove((dir.path + "/res01010.inp").c_str());
    o = rescheck(dir.path, {"."});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "present: 0, 5; missing: 1-4, 6-1010\n"
                     "file 1 is missing: the viewer ends at start-up\n"
                     "2 files present, 2 well formed, 0 broken; largest: 3 nodes, 1 elements\n"
                     "no element is inverted\n"
                     "worst quality: 0.866 in res0000.inp, element 1 at (0.333333, 0.333333)\n"
                     "largest displacement from one file to the next: 0 in res0005.inp, node 1 "
                     "at (0, 0)\n");
}

TEST(Rescheck, UsageErrors)
{
    TempDir dir;
    dir.write("plain", "");
    const struct {
        std::vector<std::string> args;
        int status;
        const char *err_start;
    } cases[] = {
        {{"--help"}, 0, ""},
        {{"--verbose"}, 2, "rescheck: unknown option --verbose\nusage: rescheck [OPTIONS] [DIR]\n"},
        {{"a", "b"}, 2, "rescheck: more than one directory given: b\n"},
        {{dir.path + "/none"}, 1, "rescheck: cannot read "},
        {{"plain"}, 1, "rescheck: cannot read plain: Not a directory\n"},
    };
    for (const auto &c : cases) {
        Outcome o = rescheck(dir.path, c.args);
        EXPECT_EQ(o.status, c.status) << c.args[0];
        EXPECT_EQ(o.err.compare(0, std::strlen(c.err_start), c.err_start), 0) << o.err;
        if (c.status == 0)
            EXPECT_EQ(o.out.compare(0, 32, "usage: rescheck [OPTIONS] [DIR]\n"), 0) << o.out;
        else
            EXPECT_EQ(o.out, "");
    }
}

} // namespace
