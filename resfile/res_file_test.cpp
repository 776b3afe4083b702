#include "resfile/res_file.h"

#include "tests/support/child.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

Mesh mesh; // 140 KB: too large for a test's stack frame

std::string canonical_triangles()
{
    // Two triangles over four nodes, one record per line.
    return "4 2\n"
           "1 1 2 3\n"
           "2 2 4 3\n"
           "1 0.0 0.0\n"
           "2 1.0 0.0\n"
           "3 0.0 1.0\n"
           "4 1.5 -2e-1\n";
}

bool parse(const std::string &text, ResError *err)
{
    return parse_res_text(text.data(), text.size(), &mesh, err);
}

TEST(ResFileName, SeriesEdges)
{
    const struct {
        int n;
        const char *name;
    } cases[] = {{0, "res0000.inp"},   {1, "res0001.inp"},     {99, "res0099.inp"},
                 {999, "res0999.inp"}, {1000, "res01000.inp"}, {1010, "res01010.inp"},
                 {-1, nullptr},        {1011, nullptr},        {INT_MIN, nullptr},
                 {INT_MAX, nullptr}};
    for (const auto &c : cases) {
        const char *got = res_file_name(c.n);
        if (c.name)
            EXPECT_STREQ(got, c.name) << "n=" << c.n;
        else
            EXPECT_EQ(got, nullptr) << "n=" << c.n;
    }
    // The name lives for the whole process: a later call does not overwrite it.
    const char *first = res_file_name(7);
    res_file_name(8);
    EXPECT_STREQ(first, "res0007.inp");
}

// Names are read back only as they are made; a folder of names made otherwise gets a hint.
TEST(ResFileName, ReadBackAndNamesMadeOtherwise)
{
    for (const char *name : {"res0000.inp", "res0999.inp", "res01000.inp", "res01010.inp"})
        EXPECT_EQ(res_file_name(res_file_index(name)), std::string(name));
    for (const char *name : {"res1.inp", "res001.inp", "RES0001.INP", "res00001.inp",
                             "res01011.inp", "res0001.inp.tmp", "res0-01.inp"})
        EXPECT_EQ(res_file_index(name), -1) << name;
    const struct {
        std::vector<const char *> files;
        const char *hint; // its start, or "" for none
    } folders[] = {
        {{"res1.inp", "res20.inp", "res3.inp"},
         "holds 3 files named like results (res1.inp .. "
         "res20.inp) but none named as the series is"},
        {{"RES0001.INP"}, "holds 1 file named like results (RES0001.INP) but none"},
        {{"res1.inp", "res0001.inp"}, ""},
        {{"notes.txt"}, ""},
    };
    for (const auto &f : folders) {
        TempDir dir;
        for (const char *name : f.files)
            dir.write(name, "0 0\n");
        const std::string hint = naming_hint(dir.path.c_str());
        EXPECT_EQ(hint.empty(), !*f.hint) << f.files[0];
        EXPECT_NE(hint.find(f.hint), std::string::npos) << hint;
    }
}

TEST(ParseRes, RecordGoesToNamedSlot)
{
    ResError err{};
    ASSERT_TRUE(parse(canonical_triangles(), &err)) << err.what;
    EXPECT_EQ(mesh.np, 4);
    EXPECT_EQ(mesh.nele, 2);
    EXPECT_EQ(mesh.ele[1][0], 1);
    EXPECT_EQ(mesh.ele[1][1], 3);
    EXPECT_EQ(mesh.ele[1][2], 2);
    EXPECT_EQ(mesh.x[3], 1.5);
    EXPECT_EQ(mesh.y[3], -0.2);

    // Element 2 with corners 4, 5, 6 fills ele[1] with the slots 3, 4, 5.
    ASSERT_TRUE(parse("6 2 2 4 5 6 1 1 2 3 1 0 0 2 0 0 3 0 0 4 0 0 5 0 0 6 0 0", &err)) << err.what;
    EXPECT_EQ(mesh.ele[1][0], 3);
    EXPECT_EQ(mesh.ele[1][1], 4);
    EXPECT_EQ(mesh.ele[1][2], 5);
}

// Layouts and notations that formatted input accepts read the same as the canonical file.
TEST(ParseRes, FormatFreedomsReadTheSame)
{
    const char *texts[] = {
        "4 2 1 1 2 3 2 2 4 3 1 0.0 0.0 2 1.0 0.0 3 0.0 1.0 4 1.5 -2e-1",
        "\t4\r\n2\r\n\n1\t1 2 3\v2 2 4 3\f1 0 0 2 1 0 3 0 1 4 1.5 -0.2\n",
        "4 2\n2 2 4 3\n1 1 2 3\n4 +1.5 -.2\n3 .0 1.\n2 1e0 0\n1 0. 0\n",
        "+4 +2\n+1 +1 +2 +3\n2 2 4 3\n1 0 0\n2 1 0\n3 0 1\n4 15e-1 -2E-1\n",
        "4 2 1 1 2 3 2 2 4 3 1 0 0 2 1 0 3 0 1 4 1.5 -0.2 trailing words 1.5 and\x01 bytes",
        "4 2 1 1 2 3 2 2 4 3 1 0 0 2 1 0 3 0 1 4 1.5 -0.2",
        "0004 02 01 1 2 3 2 2 4 3 1 0 0 2 1 0 3 0 1 4 1.500000e+00 -2.000000e-01\n",
    };
    ResError err{};
    ASSERT_TRUE(parse(canonical_triangles(), &err));
    static Mesh want;
    want = mesh;
    for (const char *t : texts) {
        ASSERT_TRUE(parse(t, &err)) << t << "\n" << err.line << ": " << err.what;
        EXPECT_EQ(std::memcmp(&want, &mesh, sizeof mesh), 0) << t;
    }
    // A value too small for a double reads as zero, as formatted input gives it.
    ASSERT_TRUE(parse("1 0 1 1e-400 -4.9e-324", &err)) << err.what;
    EXPECT_EQ(mesh.x[0], 0.0);
    EXPECT_EQ(mesh.y[0], -4.9e-324);
    // An empty mesh is a mesh.
    ASSERT_TRUE(parse("0 0", &err)) << err.what;
    EXPECT_EQ(mesh.np + mesh.nele, 0);
}

TEST(ParseRes, MalformedFileNamesLineAndFault)
{
    const struct {
        const char *text;
        int line;
        int column;
        const char *what;
    } cases[] = {
        {"", 1, 0, "file ends early: node count is missing"},
        {"3", 1, 0, "file ends early: element count is missing"},
        {"-1 0", 1, 0, "node count -1 outside 0..4999"},
        {"5000 1", 1, 0, "node count 5000 outside 0..4999"},
        {"3 5000", 1, 0, "element count 5000 outside 0..4999"},
        {"3 -2", 1, 0, "element count -2 outside 0..4999"},
        {"3 1\n2 1 2 3\n", 2, 0, "element number 2 outside 1..1"},
        {"3 1\n0 1 2 3\n", 2, 0, "element number 0 outside 1..1"},
        {"3 2\n1 1 2 3\n1 1 2 3\n", 3, 0, "element 1 named twice (first on line 2)"},
        {"3 1\n1 1 2 4\n", 2, 0, "element 1 names node 4, but the file has 3 nodes"},
        {"3 1\n1 0 2 3\n", 2, 0, "element 1 names node 0, but the file has 3 nodes"},
        {"0 1\n1 1 1 1\n", 2, 0, "element 1 names node 1, but the file has no nodes"},
        {"3 1\n1 1 2 3\n4 0 0\n", 3, 0, "node number 4 outside 1..3"},
        {"3 1\n1 1 2 3\n1 0 0\n1 0 0\n", 4, 0, "node 1 named twice (first on line 3)"},
        {"3 1\n1 1 2 3\n1 0 0\n2 0\n", 4, 0,
         "file ends early: y coordinate of record 2 of 3 is missing"},
        {"3 1\n1 1 2 3\n1 0 0\n2 0 0\n", 4, 0,
         "file ends early: node number of record 3 of 3 is missing"},
        {"3 2\n1 1 2 3\n", 2, 0, "file ends early: element number of record 2 of 2 is missing"},
        {"3 1\n1 1 2 abc\n", 2, 7, "corner node should be an integer, found \"abc\""},
        {"3 1\n1 1.5 2 3\n", 2, 3, "corner node should be an integer, found \"1.5\""},
        {"3 1\n1 1 2 3x\n", 2, 7, "corner node should be an integer, found \"3x\""},
        {"3 1\n1 1 2 +-3\n", 2, 7, "corner node should be an integer, found \"+-3\""},
        {"3 1e0", 1, 3, "element count should be an integer, found \"1e0\""},
        {"\xef\xbb\xbf"
         "3 1\n",
         1, 1, "the file begins with a UTF-8 byte-order mark; save it without one"},
        {"2147483648 1", 1, 1, "node count \"2147483648\" is too large for an integer"},
        {"1 0\n1 inf 0\n", 2, 3, "x coordinate \"inf\" is not a finite number"},
        {"1 0\n1 0 nan\n", 2, 5, "y coordinate \"nan\" is not a finite number"},
        {"1 0\n1 1e400 0\n", 2, 3, "x coordinate \"1e400\" is not a finite number"},
        {"1 0\n1 0x1p3 0\n", 2, 3, "x coordinate should be a decimal number, found \"0x1p3\""},
        {"1 0\n1 1,5 0\n", 2, 3, "x coordinate should be a decimal number, found \"1,5\""},
        {"1 0\n1 0 -\n", 2, 5, "y coordinate should be a decimal number, found \"-\""},
        {"1 0\n1 0 \x80\x81\n", 2, 5, "y coordinate should be a decimal number, found \"??\""},
    };
    for (const auto &c : cases) {
        ResError err{};
        EXPECT_FALSE(parse(c.text, &err)) << c.text;
        EXPECT_EQ(err.line, c.line) << c.text;
        EXPECT_EQ(err.column, c.column) << c.text;
        EXPECT_STREQ(err.what, c.what) << c.text;
    }
}

// Every coordinate reads to the double that strtod gives, bit for bit, in every notation.
TEST(ParseRes, CoordinatesRoundCorrectly)
{
    const char *formats[] = {"%.6e", "%.17g", "%.3f", "%g", "%.20e", "%.0f"};
    unsigned long long seed = 0x9e3779b97f4a7c15ull;
    ResError err{};
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        double mag = std::ldexp((double)(seed >> 11) / 9007199254740992.0, (int)(seed % 120) - 60);
        double v = (seed & 1) ? -mag : mag;
        if (i % 1000 == 0)
            v = i % 2000 ? 5e-324 * (double)(i / 1000) : 1.7976931348623157e308;
        char num[96];
        std::snprintf(num, sizeof num, formats[i % 6], v);
        std::string t = std::string("1 0\n1 ") + num + " 0\n";
        ASSERT_TRUE(parse(t, &err)) << num << ": " << err.what;
        double want = std::strtod(num, nullptr);
        EXPECT_EQ(std::memcmp(&mesh.x[0], &want, sizeof want), 0) << num;
    }
    // Long forms: many digits, leading zeros, exponents at the edges of the quick path.
    for (const char *num :
         {"0.1", "0.30000000000000004", "9007199254740993", "9007199254740992e1", "1e22", "1e23",
          "1e-22", "1e-23", "123456789012345678901234567890", "0.000000000000000000000000000001234",
          "4.9406564584124654e-324", "2.2250738585072011e-308", "000000000000000000000000012.5e-1",
          "1.00000000000000011102230246251565404236316680908203125"}) {
        ASSERT_TRUE(parse(std::string("1 0 1 0 ") + num, &err)) << num << ": " << err.what;
        double want = std::strtod(num, nullptr);
        EXPECT_EQ(std::memcmp(&mesh.y[0], &want, sizeof want), 0) << num;
    }
}

// Numbers do not follow the process's locale: under a comma-decimal one every token reads to the
// same bits as in the C locale, underflow to a signed zero included, and the refusals stay.
TEST(ParseRes, CommaDecimalLocaleReadsTheSameBits)
{
    const char *accepted[] = {"1.5e-400",
                              "-1e-400",
                              "-2.4e-324",
                              "2.5e-324",
                              "0.0001e-320",
                              "10000e-330",
                              "1e-99999999999999999999",
                              "123.45",
                              "-7.25e+2",
                              "+.5",
                              "1.7976931348623157e308"};
    const char *refused[] = {"100000e304", "-1e99999999999999999999", "1,5", "inf"};
    ResError err{};
    for (const char *locale : {"C", "de_DE.UTF-8"}) {
        ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr)
            << locale << " is missing (scripts/install-deps generates it)";
        for (const char *num : accepted) {
            EXPECT_TRUE(parse(std::string("1 0\n1 ") + num + " 2.5\n", &err)) << num;
            std::setlocale(LC_ALL, "C");
            double want = std::strtod(num, nullptr);
            std::setlocale(LC_ALL, locale);
            EXPECT_EQ(std::memcmp(&mesh.x[0], &want, sizeof want), 0) << num << " in " << locale;
            EXPECT_EQ(mesh.y[0], 2.5) << locale;
        }
        for (const char *num : refused)
            EXPECT_FALSE(parse(std::string("1 0\n1 ") + num + " 2.5\n", &err)) << num;
    }
    std::setlocale(LC_ALL, "C");
}

// The load path names, opens and parses without ending the process, and says what went wrong.
TEST(LoadRes, SaysHowLoadingEnded)
{
    TempDir dir;
    dir.write("res0001.inp", canonical_triangles());
    dir.write("res01000.inp", "3 1\n1 1 2 4\n");
    const std::string long_dir(RES_PATH_CAP, 'd');
    const struct {
        const char *dir;
        int n;
        LoadStatus status;
        int errnum;
        int line;
    } cases[] = {
        {dir.path.c_str(), 1, LoadStatus::LOADED, 0, 0},
        {dir.path.c_str(), 1000, LoadStatus::MALFORMED, 0, 2},
        {dir.path.c_str(), 2, LoadStatus::MISSING, ENOENT, 0},
        {"/nonexistent", 1, LoadStatus::MISSING, ENOENT, 0},
        {long_dir.c_str(), 1, LoadStatus::CANNOT_OPEN, ENAMETOOLONG, 0},
        {dir.path.c_str(), -1, LoadStatus::NO_NAME, 0, 0},
        {dir.path.c_str(), 1011, LoadStatus::NO_NAME, 0, 0},
    };
    for (const auto &c : cases) {
        LoadResult r = load_res(c.dir, c.n, &mesh);
        EXPECT_EQ(r.status, c.status) << "n=" << c.n;
        EXPECT_EQ(r.errnum, c.errnum) << "n=" << c.n;
        EXPECT_EQ(r.fault.line, c.line) << "n=" << c.n;
        if (c.status != LoadStatus::NO_NAME && c.errnum != ENAMETOOLONG) {
            EXPECT_EQ(r.path, std::string(c.dir) + "/" + res_file_name(c.n));
        }
    }
    // Without a directory the name stands alone and opens in the working directory.
    Outcome o = run_child(dir.path, [] {
        LoadResult r = load_res(nullptr, 1, &mesh);
        std::printf("%s %d", r.path, mesh.nele);
    });
    EXPECT_EQ(o.out, "res0001.inp 2");
}

// A max-size file, written the way a simulation writes one.
std::string max_size_text(const char *pad)
{
    std::string s = std::to_string(MESH_CAPACITY) + " " + std::to_string(MESH_CAPACITY) + "\n";
    char line[96];
    for (int k = MESH_CAPACITY; k >= 1; --k) {
        std::snprintf(line, sizeof line, "%d%s%d %d %d\n", k, pad, k, k % MESH_CAPACITY + 1,
                      (k + 7) % MESH_CAPACITY + 1);
        s += line;
    }
    for (int k = 1; k <= MESH_CAPACITY; ++k) {
        std::snprintf(line, sizeof line, "%d%s%.6e %.6e\n", k, pad, std::sin(k) * 4.5,
                      -std::cos(k) / 3.0);
        s += line;
    }
    return s;
}

// The file reader refills its buffer mid-token: every layout must read as the text in memory does.
TEST(ParseRes, FileReadsAsMemoryAcrossRefills)
{
    static Mesh from_text;
    for (const char *pad : {" ", "  ", "   ", "\t \t", "        "}) {
        std::string text = max_size_text(pad);
        ASSERT_GT(text.size(), 200u * 1024u);
        ResError err{};
        ASSERT_TRUE(parse_res_text(text.data(), text.size(), &from_text, &err)) << err.what;
        FILE *f = fmemopen(text.data(), text.size(), "r");
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(parse_res(f, &mesh, &err)) << err.line << ": " << err.what;
        std::fclose(f);
        EXPECT_EQ(std::memcmp(&from_text, &mesh, sizeof mesh), 0) << "pad=\"" << pad << "\"";
        char want[32];
        std::snprintf(want, sizeof want, "%.6e", std::sin(MESH_CAPACITY) * 4.5);
        EXPECT_EQ(mesh.x[MESH_CAPACITY - 1], std::strtod(want, nullptr));
    }
    // A number of 3000 characters may stand across a refill; one of more than 4096 may not,
    // whether the file is read from memory or from a stream.
    std::string padded = "1 0\n" + std::string(65530, ' ') + "1 " + std::string(2997, '0') +
                         "1.5 -" + std::string(5000, '0') + "2\n";
    for (int from_file = 0; from_file < 2; ++from_file) {
        ResError err{};
        bool ok;
        if (from_file) {
            FILE *f = fmemopen(padded.data(), padded.size(), "r");
            ok = parse_res(f, &mesh, &err);
            std::fclose(f);
        } else {
            ok = parse_res_text(padded.data(), padded.size(), &mesh, &err);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(mesh.x[0], 1.5) << from_file;
        EXPECT_EQ(err.line, 2);
        EXPECT_EQ(err.column, 65530 + 2 + 3000 + 1 + 1);
        EXPECT_STREQ(err.what, "y coordinate is longer than 4096 bytes");
    }

    // A fault far into the file is placed on its line.
    std::string text = max_size_text(" ") + "";
    text.replace(text.rfind("4999 "), 4, "5000");
    FILE *f = fmemopen(text.data(), text.size(), "r");
    ResError err{};
    EXPECT_FALSE(parse_res(f, &mesh, &err));
    std::fclose(f);
    EXPECT_EQ(err.line, 2 * MESH_CAPACITY + 1);
    EXPECT_STREQ(err.what, "node number 5000 outside 1..4999");
}

} // namespace
