// Mesh health. The exact orientation follows the adaptive idea of Shewchuk's predicates: a cheap
// determinant whose error bound decides most cases, and an exact sum of error-free products for
// the nearly collinear rest.
#include "resfile/health.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace
{

// s + e == a + b exactly, |e| below half an ulp of s.
inline void two_sum(double a, double b, double *s, double *e)
{
    *s = a + b;
    double bv = *s - a;
    double av = *s - bv;
    *e = (a - av) + (b - bv);
}

// Adds q to the expansion h[0..n) (components of increasing size that do not overlap) and
// returns the new length.
int grow_expansion(double *h, int n, double q)
{
    int k = 0;
    for (int i = 0; i < n; ++i) {
        double s = 0, e = 0;
        two_sum(q, h[i], &s, &e);
        q = s;
        if (e != 0.0)
            h[k++] = e;
    }
    h[k++] = q;
    return k;
}

// The determinant summed exactly: six products of the coordinates, each split by fma into its
// rounded value and its exact error.
double orient2d_exact(double ax, double ay, double bx, double by, double cx, double cy)
{
    const double terms[6][2] = {{bx, cy}, {-bx, ay}, {-ax, cy}, {-by, cx}, {ax, by}, {ay, cx}};
    double h[24];
    int n = 0;
    for (const auto &t : terms) {
        double p = t[0] * t[1];
        n = grow_expansion(h, n, std::fma(t[0], t[1], -p));
        n = grow_expansion(h, n, p);
    }
    // The largest component carries the sign; the sum from the smallest up is the value.
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += h[i];
    for (int i = n - 1; i >= 0; --i)
        if (h[i] != 0.0)
            return std::copysign(sum != 0.0 ? std::fabs(sum) : std::fabs(h[i]), h[i]);
    return 0.0;
}

double squared(double v)
{
    return v * v;
}

} // namespace

double orient2d(double ax, double ay, double bx, double by, double cx, double cy)
{
    double left = (ax - cx) * (by - cy);
    double right = (ay - cy) * (bx - cx);
    double det = left - right;
    // Shewchuk's first error bound, (3 + 16 eps) eps, eps = 2^-53.
    const double bound = (3.0 + 16.0 * 0x1p-53) * 0x1p-53 * (std::fabs(left) + std::fabs(right));
    if (std::fabs(det) > bound)
        return det;
    return orient2d_exact(ax, ay, bx, by, cx, cy);
}

void Extent::add(const Mesh &m)
{
    for (int i = 0; i < m.np; ++i) {
        xmin = any ? std::min(xmin, m.x[i]) : m.x[i];
        xmax = any ? std::max(xmax, m.x[i]) : m.x[i];
        ymin = any ? std::min(ymin, m.y[i]) : m.y[i];
        ymax = any ? std::max(ymax, m.y[i]) : m.y[i];
        any = true;
    }
}

void Extent::add(const Extent &e)
{
    if (!e.any)
        return;
    xmin = any ? std::min(xmin, e.xmin) : e.xmin;
    xmax = any ? std::max(xmax, e.xmax) : e.xmax;
    ymin = any ? std::min(ymin, e.ymin) : e.ymin;
    ymax = any ? std::max(ymax, e.ymax) : e.ymax;
    any = true;
}

void element_centroid(const Mesh &m, int e, double *x, double *y)
{
    const int *c = m.ele[e];
    *x = (m.x[c[0]] + m.x[c[1]] + m.x[c[2]]) / 3.0;
    *y = (m.y[c[0]] + m.y[c[1]] + m.y[c[2]]) / 3.0;
}

namespace
{

// Each element's inverted flag and quality against its expected turn (turn for all of them in a
// file that is its own reference), and the file's counts and worst element.
void measure_elements(const Mesh &m, const signed char *expected, signed char turn, Health *h)
{
    h->ninverted = h->ndegenerate = 0;
    h->first_inverted = h->first_degenerate = h->worst = -1;
    h->worst_quality = 2.0;
    for (int e = 0; e < m.nele; ++e) {
        const int *c = m.ele[e];
        double a = h->area[e];
        bool inverted = a * (expected ? expected[e] : turn) < 0;
        h->inverted[e] = inverted;
        double edges = squared(m.x[c[0]] - m.x[c[1]]) + squared(m.y[c[0]] - m.y[c[1]]) +
                       squared(m.x[c[1]] - m.x[c[2]]) + squared(m.y[c[1]] - m.y[c[2]]) +
                       squared(m.x[c[2]] - m.x[c[0]]) + squared(m.y[c[2]] - m.y[c[0]]);
        double q = edges > 0 ? 4.0 * std::sqrt(3.0) * std::fabs(a) / edges : 0.0;
        // Rounding may put an equilateral triangle a hair above 1.
        q = q > 1.0 ? 1.0 : q;
        h->quality[e] = inverted ? -q : q;
        if (inverted && h->ninverted++ == 0)
            h->first_inverted = e;
        if (a == 0.0 && h->ndegenerate++ == 0)
            h->first_degenerate = e;
        if (h->quality[e] < h->worst_quality) {
            h->worst_quality = h->quality[e];
            h->worst = e;
        }
    }
}

// Each node's displacement from the reference, and the largest from it and from the previous
// file (when that held the same mesh).
void measure_nodes(const Mesh &m, const Mesh &ref, const Mesh *previous, Health *h)
{
    h->far_reference = h->far_previous = -1;
    h->disp_reference = h->disp_previous = 0.0;
    for (int i = 0; i < m.np; ++i) {
        h->ux[i] = m.x[i] - ref.x[i];
        h->uy[i] = m.y[i] - ref.y[i];
        double d = std::hypot(h->ux[i], h->uy[i]);
        if (d > h->disp_reference || h->far_reference < 0) {
            h->disp_reference = d;
            h->far_reference = i;
        }
        if (!previous)
            continue;
        d = std::hypot(m.x[i] - previous->x[i], m.y[i] - previous->y[i]);
        if (d > h->disp_previous || h->far_previous < 0) {
            h->disp_previous = d;
            h->far_previous = i;
        }
    }
}

} // namespace

bool same_connectivity(const Mesh &a, const Mesh &b)
{
    return a.np == b.np && a.nele == b.nele &&
           std::memcmp(a.ele, b.ele, sizeof a.ele[0] * (std::size_t)a.nele) == 0;
}

namespace
{

// Each element's signed area; returns the turn of most of them (+1 when as many turn each way).
signed char measure_areas(const Mesh &m, double *area)
{
    int majority = 0;
    for (int e = 0; e < m.nele; ++e) {
        const int *c = m.ele[e];
        area[e] = 0.5 * orient2d(m.x[c[0]], m.y[c[0]], m.x[c[1]], m.y[c[1]], m.x[c[2]], m.y[c[2]]);
        majority += (area[e] > 0) - (area[e] < 0);
    }
    return majority < 0 ? -1 : 1;
}

} // namespace

void make_reference(int n, const Mesh &m, Reference *ref)
{
    ref->index = n;
    ref->mesh = m;
    std::vector<double> area((std::size_t)MESH_CAPACITY);
    ref->majority = measure_areas(m, area.data());
    // An element without area in the reference is expected to turn with the majority.
    for (int e = 0; e < m.nele; ++e) {
        const double a = area[(std::size_t)e];
        ref->expected[e] = a > 0 ? 1 : a < 0 ? -1 : ref->majority;
    }
}

void measure_health(const Reference &ref, int n, const Mesh &m, const Mesh *previous, Health *h)
{
    measure_areas(m, h->area);
    // A file may list corners either way round: each element is held to its own turn in the
    // reference, and in the reference itself to the majority's.
    const bool own = ref.index == n;
    measure_elements(m, own ? nullptr : ref.expected, ref.majority, h);
    measure_nodes(m, ref.mesh, previous, h);
}
