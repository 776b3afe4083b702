// Writes a result series res0000.inp .. res01010.inp: a plate with a circular hole, meshed with
// triangles, bending back and forth over time. With --max-size every file holds a ring of
// 4999 nodes and 4999 triangles instead, the largest mesh a result file may hold.
#include "resfile/res_file.h"
#include "tools/common/whole_file.h"
#include "util/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

constexpr double PI = 3.14159265358979323846;

constexpr int PLATE_NT = 64;   // divisions around the hole
constexpr int PLATE_NR = 10;   // divisions from the hole to the edge
constexpr double HALF_W = 4.0; // plate half width, mesh units
constexpr double HALF_H = 2.4; // plate half height
constexpr double HOLE_R = 1.0; // hole radius
constexpr double BEND = 1.5;   // largest tip deflection
constexpr int PERIOD = 100;    // files per vibration period

constexpr int RING_NT = (MESH_CAPACITY - 1) / 2; // 2499 divisions, two rings and a centre node

// Appends one formatted line (of at most a hundred characters) to o.
void put(std::string &o, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

void put(std::string &o, const char *fmt, ...)
{
    char line[128];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    o.append(line, n < 0 ? 0 : (std::size_t)n < sizeof line ? (std::size_t)n : sizeof line - 1);
}

// The reference geometry of plate node (it, ir): from the hole outwards to the plate edge.
void plate_node(int it, int ir, double *x, double *y)
{
    double th = 2.0 * PI * it / PLATE_NT;
    double c = std::cos(th), s = std::sin(th);
    double tx = std::fabs(c) > 1e-12 ? HALF_W / std::fabs(c) : 1e30;
    double ty = std::fabs(s) > 1e-12 ? HALF_H / std::fabs(s) : 1e30;
    double t = tx < ty ? tx : ty;
    double f = std::pow((double)ir / PLATE_NR, 1.3); // finer near the hole
    *x = c * (HOLE_R + (t - HOLE_R) * f);
    *y = s * (HOLE_R + (t - HOLE_R) * f);
}

void fill_plate(Mesh *m, int n)
{
    m->np = PLATE_NT * (PLATE_NR + 1);
    m->nele = 0;
    auto slot = [](int it, int ir) { return (it % PLATE_NT) * (PLATE_NR + 1) + ir; };
    for (int it = 0; it < PLATE_NT; ++it) {
        for (int ir = 0; ir < PLATE_NR; ++ir) {
            int a = slot(it, ir), b = slot(it, ir + 1), c = slot(it + 1, ir + 1),
                d = slot(it + 1, ir);
            int *e = m->ele[m->nele++];
            e[0] = a, e[1] = b, e[2] = c;
            e = m->ele[m->nele++];
            e[0] = a, e[1] = c, e[2] = d;
        }
    }
    // Bending of a plate held at its left edge: deflection grows with the square of the distance.
    double amp = BEND * std::sin(2.0 * PI * n / PERIOD);
    for (int it = 0; it < PLATE_NT; ++it) {
        for (int ir = 0; ir <= PLATE_NR; ++ir) {
            double x, y;
            plate_node(it, ir, &x, &y);
            double s = (x + HALF_W) / (2.0 * HALF_W);
            m->x[slot(it, ir)] = x - amp * 0.35 * y * s;
            m->y[slot(it, ir)] = y + amp * s * s;
        }
    }
}

void fill_ring(Mesh *m, int n)
{
    m->np = m->nele = MESH_CAPACITY;
    auto slot = [](int it, int ir) { return ir * RING_NT + it % RING_NT; };
    int k = 0;
    for (int it = 0; it < RING_NT; ++it) {
        int *e = m->ele[k++];
        e[0] = slot(it, 0), e[1] = slot(it, 1), e[2] = slot(it + 1, 1);
        e = m->ele[k++];
        e[0] = slot(it, 0), e[1] = slot(it + 1, 1), e[2] = slot(it + 1, 0);
    }
    int *centre = m->ele[k]; // a sliver to the centre node
    centre[0] = MESH_CAPACITY - 1, centre[1] = slot(0, 0), centre[2] = slot(1, 0);
    // The ring breathes into an ellipse and back.
    double sq = 0.25 * std::sin(2.0 * PI * n / PERIOD);
    for (int ir = 0; ir < 2; ++ir) {
        double r = 3.0 + 1.2 * ir;
        for (int it = 0; it < RING_NT; ++it) {
            double th = 2.0 * PI * it / RING_NT;
            m->x[slot(it, ir)] = r * (1.0 + sq) * std::cos(th);
            m->y[slot(it, ir)] = r * (1.0 - sq) * std::sin(th);
        }
    }
    m->x[MESH_CAPACITY - 1] = m->y[MESH_CAPACITY - 1] = 0.0;
}

// (b - a) x (p - a): positive when p lies left of the line from a to b.
double side(const Mesh &m, int a, int b, double px, double py)
{
    return (m.x[b] - m.x[a]) * (py - m.y[a]) - (m.y[b] - m.y[a]) * (px - m.x[a]);
}

// From file fold_at on, node p moves in a straight line across the far edge of its first
// element, a little further each file: in file fold_at exactly one element turns over (p is half
// way between the first and the second edge line it crosses), in each later one more, until all
// of p's elements have.
void fold(Mesh *m, int p, int n, int fold_at)
{
    if (n < fold_at)
        return;
    int first = 0;
    while (m->ele[first][0] != p && m->ele[first][1] != p && m->ele[first][2] != p)
        ++first;
    const int *f = m->ele[first];
    int b = f[0] == p ? f[1] : f[0], c = f[2] == p ? f[1] : f[2];
    double dx = (m->x[b] + m->x[c]) / 2 - m->x[p], dy = (m->y[b] + m->y[c]) / 2 - m->y[p];
    // Where along the way p crosses the line through the other two corners of each element.
    std::vector<double> cross;
    for (int e = 0; e < m->nele; ++e) {
        const int *k = m->ele[e];
        int j = k[0] == p ? 0 : k[1] == p ? 1 : k[2] == p ? 2 : -1;
        if (j < 0)
            continue;
        int u = k[(j + 1) % 3], v = k[(j + 2) % 3];
        double now = side(*m, u, v, m->x[p], m->y[p]);
        double rate = side(*m, u, v, m->x[p] + dx, m->y[p] + dy) - now;
        if (rate != 0 && -now / rate > 0)
            cross.push_back(-now / rate);
    }
    std::sort(cross.begin(), cross.end());
    double t1 = cross[0], step = cross.size() > 1 ? cross[1] - t1 : t1 / 2;
    double t = t1 + step * (0.5 + (n - fold_at));
    m->x[p] += t * dx;
    m->y[p] += t * dy;
}

void write_mesh(std::string &o, const Mesh &m)
{
    put(o, "%d %d\n", m.np, m.nele);
    for (int e = 0; e < m.nele; ++e)
        put(o, "%d %d %d %d\n", e + 1, m.ele[e][0] + 1, m.ele[e][1] + 1, m.ele[e][2] + 1);
    for (int i = 0; i < m.np; ++i)
        put(o, "%d %.6e %.6e\n", i + 1, m.x[i], m.y[i]);
}

const char USAGE[] =
    "usage: resview-sample-series [OPTIONS] [DIR]\n"
    "Writes res0000.inp .. the file of index N into DIR (default: the working directory; made if\n"
    "missing): a plate with a hole, bending back and forth.\n"
    "  --last N       the last index, 0..1010 (default 1010)\n"
    "  --max-size     the largest meshes a file may hold instead: 4999 nodes, 4999 triangles\n"
    "  --fold N       from file N on, one node moves across its neighbours: one element is\n"
    "                 inverted in file N, more in each later file\n"
    "  --             ends the options: a DIR that begins with '-' follows\n"
    "Exit status: 0 all written, 1 a file not written, 2 usage error.\n";

} // namespace

int main(int argc, char **argv)
{
    const char *program = "resview-sample-series";
    bool max_size = false;
    int last = FILE_INDEX_MAX;
    int fold_at = FILE_INDEX_MAX + 1;
    const std::vector<Option> opts = {
        flag_option("--max-size", &max_size),
        int_option("--last", 0, FILE_INDEX_MAX, &last),
        int_option("--fold", 0, FILE_INDEX_MAX, &fold_at),
    };
    CommandLine cl = read_command_line(argc, argv, opts);
    if (cl.help) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (!cl.error.empty())
        return usage_error(program, cl.error);
    const char *dir = cl.dir ? cl.dir : ".";
    if (mkdir(dir, 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "%s: cannot make %s: %s\n", program, dir, std::strerror(errno));
        return 1;
    }
    auto m = std::make_unique<Mesh>();
    std::string text;
    for (int n = 0; n <= last; ++n) {
        text.clear();
        if (max_size)
            fill_ring(m.get(), n);
        else
            fill_plate(m.get(), n);
        // A node half way out from the hole (or on the ring's inner circle).
        fold(m.get(), max_size ? RING_NT / 8 : (PLATE_NT / 8) * (PLATE_NR + 1) + PLATE_NR / 2, n,
             fold_at);
        write_mesh(text, *m);
        // Whole under its name at once, as a reader of the series expects; sample data need not
        // wait for the disk.
        WholeFile f;
        Status s = f.open(std::string(dir) + "/" + res_file_name(n));
        if (s.ok())
            s = f.write(text.data(), text.size());
        if (s.ok())
            s = f.commit(WholeFile::Durable::NOT);
        if (!s.ok()) {
            std::fprintf(stderr, "%s: %s\n", program, s.message().c_str());
            return 1;
        }
    }
    return 0;
}
