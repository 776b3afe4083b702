#include "view/framing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace
{

constexpr double MARGIN = 0.05; // of the picture's half width, on each side
constexpr double PI = 3.14159265358979323846;

// (x, y) in eye coordinates: turned as the viewer turns the model, about y by rot_y, then about x
// by rot_x (degrees), and moved by the translation. The centre is taken off before.
void to_eye(const View &v, double x, double y, double out[3])
{
    const double ay = v.rot_y * PI / 180, ax = v.rot_x * PI / 180;
    const double x1 = x * std::cos(ay), y1 = y, z1 = -x * std::sin(ay);
    out[0] = x1 + v.tx;
    out[1] = y1 * std::cos(ax) - z1 * std::sin(ax) + v.ty;
    out[2] = y1 * std::sin(ax) + z1 * std::cos(ax) + v.tz;
}

// The share of [lo, hi] that lies within -1..1; for a single point, whether it does.
double share_within(double lo, double hi)
{
    if (hi <= lo)
        return lo >= -1 && lo <= 1 ? 1 : 0;
    return std::max(0.0, std::min(hi, 1.0) - std::max(lo, -1.0)) / (hi - lo);
}

} // namespace

Extent range_extent(const char *dir, const Range &range)
{
    // The files are read by a thread for each processor, up to four: each takes every k-th file
    // of the range into a box of its own, and the boxes are joined at the end.
    const int nthreads = (int)std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<Extent> boxes((std::size_t)nthreads);
    const auto read_share = [&](int k) {
        auto mesh = std::make_unique<Mesh>();
        for (int n = range.first + k * range.every; n <= range.last; n += nthreads * range.every)
            if (load_res(dir, n, mesh.get()).status == LoadStatus::LOADED)
                boxes[(std::size_t)k].add(*mesh);
    };
    std::vector<std::thread> threads;
    for (int k = 1; k < nthreads; ++k)
        threads.emplace_back(read_share, k);
    read_share(0);
    for (auto &t : threads)
        t.join();
    Extent e;
    for (const auto &b : boxes)
        e.add(b);
    return e;
}

Status fit_view(const Extent &e, View *v)
{
    if (!e.any)
        return Status::error("--fit found no node to fit: no file of the range is well formed");
    // Turned about the box's middle, the box's corners lie in pairs about the axis of view, so the
    // mesh needs no move across or up; only its distance is chosen.
    View turned = *v;
    turned.cx = (float)((e.xmin + e.xmax) / 2);
    turned.cy = (float)((e.ymin + e.ymax) / 2);
    turned.tx = turned.ty = turned.tz = 0.0f;
    double corner[4][3];
    const double xs[2] = {e.xmin, e.xmax}, ys[2] = {e.ymin, e.ymax};
    for (int k = 0; k < 4; ++k)
        to_eye(turned, xs[k & 1] - turned.cx, ys[k >> 1] - turned.cy, corner[k]);
    // As near as every corner allows: seen from distance d, a point off the axis by s lies at
    // 3 s / d of the picture's half width (the frustum's near plane is at 3, its sides at 1).
    double tz = -NEAR_PLANE - 1e-3;
    for (const auto &c : corner) {
        const double off = std::max(std::fabs(c[0]), std::fabs(c[1]));
        tz = std::min({tz, -c[2] - NEAR_PLANE * off / (1 - MARGIN), -c[2] - NEAR_PLANE - 1e-3});
    }
    double deepest = 0;
    for (const auto &c : corner)
        deepest = std::max(deepest, -(tz + c[2]));
    if (deepest >= FAR_PLANE)
        return Status::error(
            "--fit cannot show the mesh whole: it is too large for the view's depth "
            "(the far plane lies 10000 units from the eye)");
    v->cx = turned.cx;
    v->cy = turned.cy;
    v->tx = 0.0f;
    v->ty = 0.0f;
    v->tz = (float)tz;
    return Status();
}

double share_inside(const Mesh &m, const View &v)
{
    // The nodes as they are drawn: narrowed to single precision, then projected onto the picture,
    // where -1..1 spans it across and up.
    double lo[2] = {0, 0}, hi[2] = {0, 0};
    int seen = 0;
    for (int i = 0; i < m.np; ++i) {
        double eye[3];
        to_eye(v, (double)(float)m.x[i] - v.cx, (double)(float)m.y[i] - v.cy, eye);
        const double depth = -eye[2];
        if (depth < NEAR_PLANE || depth > FAR_PLANE)
            continue;
        for (int a = 0; a < 2; ++a) {
            const double p = NEAR_PLANE * eye[a] / depth;
            lo[a] = seen ? std::min(lo[a], p) : p;
            hi[a] = seen ? std::max(hi[a], p) : p;
        }
        ++seen;
    }
    if (m.np == 0)
        return 1;
    if (seen == 0)
        return 0;
    if (lo[0] <= -1 && hi[0] >= 1 && lo[1] <= -1 && hi[1] >= 1)
        return 1; // the box covers the picture
    return share_within(lo[0], hi[0]) * share_within(lo[1], hi[1]) * seen / m.np;
}

std::string box_text(const Extent &e)
{
    char text[160];
    std::snprintf(text, sizeof text, "the mesh (x %.6g..%.6g, y %.6g..%.6g)", e.xmin, e.xmax,
                  e.ymin, e.ymax);
    return text;
}

std::string outside_text(const Extent &e, double share, const char *picture)
{
    return box_text(e) + " lies " + (share > 0 ? "mostly outside " : "outside ") + picture;
}
