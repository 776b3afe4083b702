#include "health.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

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

// A run of files measured one after the other, each with what must be found in it.
TEST(MeasureHealth, RunAgainstItsReference)
{
    // Four triangles around node 5, listed counter-clockwise, but element 4 clockwise.
    const auto square = [](double x5, double y5) {
        return mesh({{0, 0}, {2, 0}, {2, 2}, {0, 2}, {x5, y5}},
                    {{1, 2, 5}, {2, 3, 5}, {3, 4, 5}, {1, 4, 5}});
    };
    const struct {
        const char *what;
        Mesh m;
        bool new_mesh;
        int ninverted, ndegenerate, first_inverted, first_degenerate;
        int far_previous; // node slot, -1 for none
        double disp_previous;
    } files[] = {
        // The reference: element 4 turns against the majority, so it counts as inverted here.
        {"reference", square(1, 1), true, 1, 0, 3, -1, -1, 0},
        // Later each element is held to its own turn in the reference: element 4 is fine.
        {"moved a little", square(1.25, 1), false, 0, 0, -1, -1, 4, 0.25},
        // Node 5 onto edge 2-3: element 2 has no area; past it, element 2 turns over.
        {"on the edge", square(2, 1), false, 0, 1, -1, 1, 4, 0.75},
        {"past the edge", square(2.5, 1), false, 1, 0, 1, -1, 4, 0.5},
        // Other corner numbers: a new mesh, and no displacement from the last file.
        {"new mesh", mesh({{0, 0}, {1, 0}, {0, 1}}, {{1, 2, 3}}), true, 0, 0, -1, -1, -1, 0},
        // A majority turning clockwise: the one counter-clockwise element is the fold.
        {"clockwise majority",
         mesh({{0, 0}, {1, 0}, {0, 1}, {1, 1}}, {{1, 3, 2}, {2, 3, 4}, {1, 2, 4}}), true, 1, 0, 2,
         -1, -1, 0},
    };
    HealthTrack track;
    static Health h;
    for (const auto &f : files) {
        measure_health(&track, f.m, &h);
        EXPECT_EQ(h.new_mesh, f.new_mesh) << f.what;
        EXPECT_EQ(h.ninverted, f.ninverted) << f.what;
        EXPECT_EQ(h.ndegenerate, f.ndegenerate) << f.what;
        EXPECT_EQ(h.first_inverted, f.first_inverted) << f.what;
        EXPECT_EQ(h.first_degenerate, f.first_degenerate) << f.what;
        EXPECT_EQ(h.far_previous, f.far_previous) << f.what;
        EXPECT_DOUBLE_EQ(h.disp_previous, f.disp_previous) << f.what;
        for (int e = 0; e < f.m.nele; ++e) {
            // Quality is negative exactly for an inverted element, zero without area.
            EXPECT_EQ(h.quality[e] < 0, h.inverted[e] == 1) << f.what << " e=" << e;
            EXPECT_EQ(h.quality[e] == 0, h.area[e] == 0) << f.what << " e=" << e;
            EXPECT_LE(std::fabs(h.quality[e]), 1.0) << f.what << " e=" << e;
            EXPECT_EQ(h.worst_quality <= h.quality[e], true) << f.what << " e=" << e;
        }
    }
    // The quality of an equilateral triangle is 1, of a right isosceles one sqrt(3)/2; the
    // displacement is measured from the reference.
    HealthTrack fresh;
    measure_health(&fresh, mesh({{0, 0}, {2, 0}, {1, std::sqrt(3.0)}}, {{1, 2, 3}}), &h);
    EXPECT_DOUBLE_EQ(h.quality[0], 1.0);
    measure_health(&fresh, mesh({{0, 0}, {2, 0}, {0, 2}}, {{1, 2, 3}}), &h);
    EXPECT_DOUBLE_EQ(h.quality[0], std::sqrt(3.0) / 2.0);
    EXPECT_EQ(h.far_reference, 2);
    EXPECT_DOUBLE_EQ(h.disp_reference, std::hypot(1.0, 2.0 - std::sqrt(3.0)));
    EXPECT_DOUBLE_EQ(h.ux[2], -1.0);
}

} // namespace
