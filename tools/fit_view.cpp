#include "fit_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace
{

constexpr double MARGIN = 0.05; // of the picture's half width, on each side
constexpr double PI = 3.14159265358979323846;

// p turned as the viewer turns the model: about y by rot_y, then about x by rot_x (degrees).
void turn(const View &v, double x, double y, double out[3])
{
    const double ay = v.rot_y * PI / 180, ax = v.rot_x * PI / 180;
    const double x1 = x * std::cos(ay), y1 = y, z1 = -x * std::sin(ay);
    out[0] = x1;
    out[1] = y1 * std::cos(ax) - z1 * std::sin(ax);
    out[2] = y1 * std::sin(ax) + z1 * std::cos(ax);
}

} // namespace

Extent range_extent(const char *dir, const Range &range)
{
    Extent e;
    auto mesh = std::make_unique<Mesh>();
    for (int n = range.first; n <= range.last; n += range.every)
        if (load_res(dir, n, mesh.get()).status == LoadStatus::LOADED)
            e.add(*mesh);
    return e;
}

Status fit_view(const Extent &e, View *v)
{
    if (!e.any)
        return Status::error("--fit found no node to fit: no file of the range is well formed");
    double corner[4][3];
    const double xs[2] = {e.xmin, e.xmax}, ys[2] = {e.ymin, e.ymax};
    for (int k = 0; k < 4; ++k)
        turn(*v, xs[k & 1], ys[k >> 1], corner[k]);
    double lo[2] = {corner[0][0], corner[0][1]}, hi[2] = {lo[0], lo[1]};
    for (const auto &c : corner)
        for (int a = 0; a < 2; ++a) {
            lo[a] = std::min(lo[a], c[a]);
            hi[a] = std::max(hi[a], c[a]);
        }
    // Centred across and up; then as near as every corner allows: seen from distance d, a point
    // off the axis by s lies at 3 s / d of the picture's half width (the frustum's near plane is
    // at 3, its sides at 1).
    const double tx = -(lo[0] + hi[0]) / 2, ty = -(lo[1] + hi[1]) / 2;
    double tz = -NEAR_PLANE - 1e-3;
    for (const auto &c : corner) {
        const double off = std::max(std::fabs(c[0] + tx), std::fabs(c[1] + ty));
        tz = std::min({tz, -c[2] - NEAR_PLANE * off / (1 - MARGIN), -c[2] - NEAR_PLANE - 1e-3});
    }
    double deepest = 0;
    for (const auto &c : corner)
        deepest = std::max(deepest, -(tz + c[2]));
    if (deepest >= FAR_PLANE)
        return Status::error(
            "--fit cannot show the mesh whole: it is too large for the view's depth "
            "(the far plane lies 10000 units from the eye)");
    v->tx = (float)tx;
    v->ty = (float)ty;
    v->tz = (float)tz;
    return Status();
}

std::vector<Option> view_options(ViewChoice *c)
{
    View *v = &c->view;
    return {
        float_option("--rot-x", &v->rot_x),
        float_option("--rot-y", &v->rot_y),
        noted(float_option("--tx", &v->tx), &c->moved),
        noted(float_option("--ty", &v->ty), &c->moved),
        noted(float_option("--tz", &v->tz), &c->moved),
        flag_option("--fit", &c->fit),
    };
}

std::string view_conflict(const ViewChoice &c)
{
    return c.fit && c.moved ? "--fit chooses --tx, --ty and --tz itself: give either --fit or them"
                            : "";
}

Status apply_fit(const char *dir, const Range &range, ViewChoice *c)
{
    if (!c->fit)
        return Status();
    Status s = fit_view(range_extent(dir, range), &c->view);
    if (s.ok()) {
        std::printf("view: --tx %s --ty %s --tz %s\n", float_text(c->view.tx).c_str(),
                    float_text(c->view.ty).c_str(), float_text(c->view.tz).c_str());
        std::fflush(stdout);
    }
    return s;
}
