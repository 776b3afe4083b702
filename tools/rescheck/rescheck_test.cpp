// The real rescheck on generated series.
#include "resfile/res_file.h"
#include "tests/support/child.h"

#include <cstdio>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
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
                     "5 files present, 5 well formed, 0 broken; largest: 3 nodes, 1 element\n"
                     "extent: x 0..1, y 0..1\n"
                     "reference: res0000.inp\n"
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
                         "element\n"
                         "extent: x 0..1, y 0..1\n"
                         "reference: res0000.inp\n"
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
    EXPECT_EQ(o.out, "present: 0, 5; missing: 1-4; 6-1010 not written\n"
                     "file 1 is missing: the viewer ends at start-up\n"
                     "2 files present, 2 well formed, 0 broken; largest: 3 nodes, 1 element\n"
                     "extent: x 0..1, y 0..1\n"
                     "reference: res0000.inp\n"
                     "no element is inverted\n"
                     "worst quality: 0.866 in res0000.inp, element 1 at (0.333333, 0.333333)\n"
                     "largest displacement from one file to the next: 0 from res0000.inp to "
                     "res0005.inp, node 1 at (0, 0)\n");
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
        {{"--bogus"}, 2, "rescheck: unknown option --bogus\nsee rescheck --help\n"},
        {{"--every", "0"},
         2,
         "rescheck: --every takes a whole number from 1 to 1010, not \"0\"\nsee rescheck --help\n"},
        {{"--poll", "1"}, 2, "rescheck: --poll applies only with --follow\nsee rescheck --help\n"},
        {{"--idle=2", "."}, 2, "rescheck: --idle applies only with --follow\n"},
        {{"--first", "9", "--last", "3"}, 2, "rescheck: --first (9) comes after --last (3)\n"},
        {{"a", "b"}, 2, "rescheck: more than one directory given: b\n"},
        {{dir.path + "/none"}, 1, "rescheck: cannot read "},
        {{"plain"}, 1, "rescheck: cannot read plain: Not a directory\n"},
    };
    for (const auto &c : cases) {
        Outcome o = rescheck(dir.path, c.args);
        EXPECT_EQ(o.status, c.status) << c.args[0];
        EXPECT_EQ(o.err.compare(0, std::strlen(c.err_start), c.err_start), 0) << o.err;
        if (c.status == 2) {
            EXPECT_LE(std::count(o.err.begin(), o.err.end(), '\n'), 2) << o.err;
        }
        if (c.status == 0)
            EXPECT_EQ(o.out.compare(0, 32, "usage: rescheck [OPTIONS] [DIR]\n"), 0) << o.out;
        else
            EXPECT_EQ(o.out, "");
    }
}

// Each CSV row of a table by index, up to and with displacement_from_reference, and the extent.
std::map<int, std::string> verdicts(const std::string &path)
{
    std::map<int, std::string> rows;
    std::ifstream f(path);
    std::string line;
    std::getline(f, line); // the header
    while (std::getline(f, line)) {
        std::vector<std::string> cols;
        std::stringstream cells(line);
        for (std::string c; std::getline(cells, c, ',');)
            cols.push_back(c);
        cols.resize(14);
        cols[9] = ""; // from the previous file of the run: the run's own
        std::string kept;
        for (const auto &c : cols)
            kept += c + ",";
        rows[std::stoi(cols[0])] = kept;
    }
    return rows;
}

// A series that folds from file 25 on, with a new mesh from file 40 and the first mesh again from
// file 44: every range finds in each of its files what a run over the whole series finds there,
// and names the same reference.
TEST(Rescheck, SameVerdictWhateverTheRange)
{
    TempDir dir;
    ASSERT_EQ(
        run_program({SAMPLE_SERIES_EXE, "--fold", "25", "--last", "45", "f"}, dir.path).status, 0);
    for (int n = 40; n <= 43; ++n)
        dir.write("f/" + std::string(res_file_name(n)), GOOD);
    Outcome whole = rescheck(dir.path, {"--table", "whole.csv", "f"});
    EXPECT_EQ(whole.status, 3);
    const std::map<int, std::string> want = verdicts(dir.path + "/whole.csv");
    ASSERT_EQ(want.size(), 46u);
    const std::vector<std::string> ranges[] = {
        {"--first", "30", "--last", "33"},
        {"--every", "3"},
        {"--first", "26", "--every", "7"},
        {"--first", "41"},
        {"--first", "44"},
        {"--first", "31", "--last", "45", "--follow"},
    };
    for (const auto &r : ranges) {
        std::vector<std::string> args = r;
        args.insert(args.end(), {"--table", "part.csv", "f"});
        Outcome o = rescheck(dir.path, args);
        std::string shown;
        for (const auto &a : r)
            shown += a + " ";
        EXPECT_EQ(o.status, 3) << shown << o.err;
        for (const auto &row : verdicts(dir.path + "/part.csv"))
            EXPECT_EQ(row.second, want.at(row.first)) << shown;
        const bool later = r[0] == "--first" && r[1] == "41";
        EXPECT_NE(o.out.find(later ? "reference: res0040.inp\n" : "reference: res0000.inp\n"),
                  std::string::npos)
            << shown << o.out;
    }
}

// A series folding from file 25 to its end: a report a person reads whole, each stretch of files
// with the same findings on one line; --verbose gives the line of every file.
TEST(Rescheck, ReportOfAFoldingSeries)
{
    TempDir dir;
    ASSERT_EQ(run_program({SAMPLE_SERIES_EXE, "--fold", "25", "f"}, dir.path).status, 0);
    Outcome o = rescheck(dir.path, {"f"});
    EXPECT_EQ(o.status, 3);
    EXPECT_LE(std::count(o.out.begin(), o.out.end(), '\n'), 20) << o.out;
    EXPECT_NE(o.out.find("\nres0025.inp: 1 element inverted (first: element 149 at (1.11381, "
                         "1.96028))\nres0026.inp .. res01010.inp: 3 elements inverted (first: "
                         "element 149)\n"),
              std::string::npos)
        << o.out;
    o = rescheck(dir.path, {"--verbose", "f"});
    EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 994) << o.out.substr(0, 2000);
}
} // namespace

namespace
{

// A follow reports what is on disk at its end: file 1 first folded, then rewritten whole, counts
// as its last content, measured after file 0 as a run over the finished series would.
TEST(Rescheck, AFollowReportsTheLastContentOfEachFile)
{
    const char FOLDED[] = "3 1\n1 1 2 3\n1 0 0\n2 0 1\n3 1 0\n"; // file 0's triangle turned over
    TempDir dir;
    dir.write("res0000.inp", GOOD);
    dir.write("res0001.inp", FOLDED);
    Child c;
    ASSERT_TRUE(spawn(&c, {RESCHECK_EXE, "--follow", "--last", "2", "."}, dir.path));
    ASSERT_TRUE(wait_for_output(&c, "res0001.inp: 1 element inverted", 20000)) << c.out;
    dir.write("res0001.tmp", GOOD);
    std::rename((dir.path + "/res0001.tmp").c_str(), (dir.path + "/res0001.inp").c_str());
    ASSERT_TRUE(wait_for_output(&c, "0.333333))\nres0001.inp: well formed", 20000)) << c.out;
    dir.write("res0002.inp", GOOD); // the range is whole: the follow ends
    ASSERT_TRUE(wait_exit(&c, 20000));
    EXPECT_EQ(c.status, 0) << c.out << c.err;
    EXPECT_NE(c.out.find("\nno element is inverted\n"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("largest displacement from one file to the next: 0 in res0001.inp"),
              std::string::npos)
        << c.out;
}

} // namespace
