#include "resfile/series_health.h"

#include "tests/support/child.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace
{

__extension__ typedef __int128 int128; // exact products of 58-bit integers

int sign(double v)
{
    return (v > 0) - (v < 0);
}

// Nearly collinear corners, where the plain cross product rounds to the wrong sign: (0.5, 0.5)
// moved by up to 63 ulps each way against (12, 12) and (24, 24). Every coordinate is a whole
// multiple of 2^-53, so 128-bit integers give the exact answer independently.
TEST(Orient2d, ExactOnNearlyCollinearCorners)
{
    const double ulp = 0x1p-53;
    int naive_wrong = 0;
    for (int i = 0; i < 64; ++i) {
        for (int j = 0; j < 64; ++j) {
            double ax = 0.5 + i * ulp, ay = 0.5 + j * ulp, bx = 12, by = 12, cx = 24, cy = 24;
            auto scaled = [](double v) { return (int128)std::ldexp(v, 53); };
            int128 det = (scaled(bx) - scaled(ax)) * (scaled(cy) - scaled(ay)) -
                         (scaled(by) - scaled(ay)) * (scaled(cx) - scaled(ax));
            int exact = (det > 0) - (det < 0);
            double naive = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
            naive_wrong += sign(naive) != exact;
            // Every order of the corners: a swap of two turns the sign.
            EXPECT_EQ(sign(orient2d(ax, ay, bx, by, cx, cy)), exact) << "i=" << i << " j=" << j;
            EXPECT_EQ(sign(orient2d(bx, by, cx, cy, ax, ay)), exact) << "i=" << i << " j=" << j;
            EXPECT_EQ(sign(orient2d(bx, by, ax, ay, cx, cy)), -exact) << "i=" << i << " j=" << j;
        }
    }
    EXPECT_GT(naive_wrong, 100) << "the cases must include ones the plain formula gets wrong";
    EXPECT_EQ(orient2d(0, 0, 1, 0, 0, 1), 1.0);
    EXPECT_EQ(orient2d(1e-300, 0, 3e-300, 0, 2e-300, 0), 0.0);
}

// A mesh of nodes and elements (1-based corner numbers, as in a file).
Mesh mesh(std::initializer_list<std::pair<double, double>> nodes,
          std::initializer_list<std::initializer_list<int>> elements)
{
    static Mesh m;
    m = Mesh{};
    for (const auto &n : nodes) {
        m.x[m.np] = n.first;
        m.y[m.np++] = n.second;
    }
    for (const auto &e : elements) {
        int j = 0;
        for (int k : e)
            m.ele[m.nele][j++] = k - 1;
        ++m.nele;
    }
    return m;
}

// The mesh as a result file holds it.
std::string text_of(const Mesh &m)
{
    std::string s = std::to_string(m.np) + " " + std::to_string(m.nele) + "\n";
    char line[128];
    for (int e = 0; e < m.nele; ++e) {
        std::snprintf(line, sizeof line, "%d %d %d %d\n", e + 1, m.ele[e][0] + 1, m.ele[e][1] + 1,
                      m.ele[e][2] + 1);
        s += line;
    }
    for (int i = 0; i < m.np; ++i) {
        std::snprintf(line, sizeof line, "%d %.17g %.17g\n", i + 1, m.x[i], m.y[i]);
        s += line;
    }
    return s;
}

// Four triangles around node 5, listed counter-clockwise, but element 4 clockwise.
Mesh square(double x5, double y5)
{
    return mesh({{0, 0}, {2, 0}, {2, 2}, {0, 2}, {x5, y5}},
                {{1, 2, 5}, {2, 3, 5}, {3, 4, 5}, {1, 4, 5}});
}

// What must be found in each file of a series.
struct Want {
    const char *what;
    int reference;
    int ninverted, ndegenerate, first_inverted, first_degenerate;
};

// A series whose files are measured one after the other, each against its reference: the first
// file with its connectivity, whatever file a run starts from.
TEST(SeriesHealth, EachFileAgainstItsReferenceWhateverTheRange)
{
    TempDir dir;
    const Mesh triangle = mesh({{0, 0}, {1, 0}, {0, 1}}, {{1, 2, 3}});
    const std::vector<std::pair<Mesh, Want>> files = {
        // The reference: element 4 turns against the majority, so it counts as inverted here.
        {square(1, 1), {"reference", 0, 1, 0, 3, -1}},
        // Later each element is held to its own turn in the reference: element 4 is fine.
        {square(1.25, 1), {"moved a little", 0, 0, 0, -1, -1}},
        // Node 5 onto edge 2-3: element 2 has no area; past it, element 2 turns over.
        {square(2, 1), {"on the edge", 0, 0, 1, -1, 1}},
        {square(2.5, 1), {"past the edge", 0, 1, 0, 1, -1}},
        // Other corner numbers: its own reference.
        {triangle, {"new mesh", 4, 0, 0, -1, -1}},
        // A majority turning clockwise: the one counter-clockwise element is the fold.
        {mesh({{0, 0}, {1, 0}, {0, 1}, {1, 1}}, {{1, 3, 2}, {2, 3, 4}, {1, 2, 4}}),
         {"clockwise majority", 5, 1, 0, 2, -1}},
        // The first mesh again: measured against the series' first file, not against itself.
        {square(2.5, 1), {"the first mesh again", 0, 1, 0, 1, -1}},
    };
    for (std::size_t n = 0; n < files.size(); ++n)
        dir.write(res_file_name((int)n), text_of(files[n].first));
    // Started at each file, a run finds in every file what a run from the start finds.
    for (int start : {0, 1, 3, 5, 6}) {
        SeriesHealth health(dir.path.c_str());
        for (int n = start; n < (int)files.size(); ++n) {
            Mesh m;
            ResError err{};
            const std::string text = text_of(files[(std::size_t)n].first);
            ASSERT_TRUE(parse_res_text(text.data(), text.size(), &m, &err));
            const Health &h = health.measure(n, m);
            const Want &w = files[(std::size_t)n].second;
            const std::string shown = std::string(w.what) + ", from file " + std::to_string(start);
            EXPECT_EQ(health.reference_index(), w.reference) << shown;
            EXPECT_EQ(h.ninverted, w.ninverted) << shown;
            EXPECT_EQ(h.ndegenerate, w.ndegenerate) << shown;
            EXPECT_EQ(h.first_inverted, w.first_inverted) << shown;
            EXPECT_EQ(h.first_degenerate, w.first_degenerate) << shown;
            EXPECT_EQ(health.new_mesh(), n > start && (n == 4 || n == 5 || n == 6)) << shown;
            for (int e = 0; e < m.nele; ++e) {
                // Quality is negative exactly for an inverted element, zero without area.
                EXPECT_EQ(h.quality[e] < 0, h.inverted[e] == 1) << shown << " e=" << e;
                EXPECT_EQ(h.quality[e] == 0, h.area[e] == 0) << shown << " e=" << e;
                EXPECT_LE(std::fabs(h.quality[e]), 1.0) << shown << " e=" << e;
            }
        }
        // What it cost: one earlier file read to start part way, and where a mesh is new, one
        // pass over the earlier files not read yet.
        const int reads[] = {0, 1, 0, 3, 0, 5, 1};
        EXPECT_EQ(health.finder().files_read(), reads[start]) << "from file " << start;
    }
}

// The quality of an equilateral triangle is 1, of a right isosceles one sqrt(3)/2; displacement
// is measured from the reference and, from file to file, from the previous file of the run.
TEST(SeriesHealth, QualityAndDisplacement)
{
    TempDir dir;
    dir.write("res0000.inp", text_of(mesh({{0, 0}, {2, 0}, {1, std::sqrt(3.0)}}, {{1, 2, 3}})));
    SeriesHealth health(dir.path.c_str());
    Mesh m = mesh({{0, 0}, {2, 0}, {1, std::sqrt(3.0)}}, {{1, 2, 3}});
    const Health &h = health.measure(0, m);
    EXPECT_DOUBLE_EQ(h.quality[0], 1.0);
    EXPECT_EQ(h.far_previous, -1);
    m = mesh({{0, 0}, {2, 0}, {0, 2}}, {{1, 2, 3}});
    health.measure(3, m);
    EXPECT_DOUBLE_EQ(h.quality[0], std::sqrt(3.0) / 2.0);
    EXPECT_EQ(h.far_reference, 2);
    EXPECT_DOUBLE_EQ(h.disp_reference, std::hypot(1.0, 2.0 - std::sqrt(3.0)));
    EXPECT_DOUBLE_EQ(h.ux[2], -1.0);
    EXPECT_EQ(health.previous_index(), 0);
    EXPECT_DOUBLE_EQ(h.disp_previous, std::hypot(1.0, 2.0 - std::sqrt(3.0)));
}

} // namespace
