// Writes a result series res0000.inp .. res01010.inp: a plate with a circular hole, meshed with
// triangles, bending back and forth over time. With --max-size every file holds a ring of
// 4999 nodes and 4999 triangles instead, the largest mesh a result file may hold.
#include "res_file.h"
#include "series_tool.h"
#include "whole_file.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

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

struct Out {
    char *buf;
    size_t len;
    size_t cap;
};

void put(Out &o, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

void put(Out &o, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(o.buf + o.len, o.cap - o.len, fmt, ap);
    va_end(ap);
    if (n < 0 || (size_t)n >= o.cap - o.len) {
        std::fprintf(stderr, "resview-sample-series: internal buffer too small\n");
        std::exit(2);
    }
    o.len += (size_t)n;
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

void write_plate(Out &o, int n)
{
    int np = PLATE_NT * (PLATE_NR + 1);
    int nele = 2 * PLATE_NT * PLATE_NR;
    put(o, "%d %d\n", np, nele);
    auto node = [](int it, int ir) { return (it % PLATE_NT) * (PLATE_NR + 1) + ir + 1; };
    int kele = 0;
    for (int it = 0; it < PLATE_NT; ++it) {
        for (int ir = 0; ir < PLATE_NR; ++ir) {
            int a = node(it, ir), b = node(it, ir + 1), c = node(it + 1, ir + 1),
                d = node(it + 1, ir);
            put(o, "%d %d %d %d\n", ++kele, a, b, c);
            put(o, "%d %d %d %d\n", ++kele, a, c, d);
        }
    }
    // Bending of a plate held at its left edge: deflection grows with the square of the distance.
    double amp = BEND * std::sin(2.0 * PI * n / PERIOD);
    for (int it = 0; it < PLATE_NT; ++it) {
        for (int ir = 0; ir <= PLATE_NR; ++ir) {
            double x, y;
            plate_node(it, ir, &x, &y);
            double s = (x + HALF_W) / (2.0 * HALF_W);
            double ux = -amp * 0.35 * y * s;
            double uy = amp * s * s;
            put(o, "%d %.6e %.6e\n", node(it, ir), x + ux, y + uy);
        }
    }
}

void write_ring(Out &o, int n)
{
    put(o, "%d %d\n", MESH_CAPACITY, MESH_CAPACITY);
    auto node = [](int it, int ir) { return ir * RING_NT + it % RING_NT + 1; };
    int kele = 0;
    for (int it = 0; it < RING_NT; ++it) {
        put(o, "%d %d %d %d\n", ++kele, node(it, 0), node(it, 1), node(it + 1, 1));
        put(o, "%d %d %d %d\n", ++kele, node(it, 0), node(it + 1, 1), node(it + 1, 0));
    }
    put(o, "%d %d %d %d\n", ++kele, MESH_CAPACITY, node(0, 0), node(1, 0)); // to the centre
    // The ring breathes into an ellipse and back.
    double sq = 0.25 * std::sin(2.0 * PI * n / PERIOD);
    for (int ir = 0; ir < 2; ++ir) {
        double r = 3.0 + 1.2 * ir;
        for (int it = 0; it < RING_NT; ++it) {
            double th = 2.0 * PI * it / RING_NT;
            put(o, "%d %.6e %.6e\n", node(it, ir), r * (1.0 + sq) * std::cos(th),
                r * (1.0 - sq) * std::sin(th));
        }
    }
    put(o, "%d %.6e %.6e\n", MESH_CAPACITY, 0.0, 0.0);
}

const char USAGE[] =
    "usage: resview-sample-series [OPTIONS] [DIR]\n"
    "Writes res0000.inp .. the file of index N into DIR (default: the working directory; made if\n"
    "missing): a plate with a hole, bending back and forth.\n"
    "  --last N       the last index, 0..1010 (default 1010)\n"
    "  --max-size     the largest meshes a file may hold instead: 4999 nodes, 4999 triangles\n"
    "  --             ends the options: a DIR that begins with '-' follows\n"
    "Exit status: 0 all written, 1 a file not written, 2 usage error.\n";

} // namespace

int main(int argc, char **argv)
{
    const char *program = "resview-sample-series";
    bool max_size = false;
    int last = FILE_INDEX_MAX;
    const char *dir = nullptr;
    const std::vector<Option> opts = {
        {"--max-size", Takes::NOTHING, [&](const char *) { return max_size = true; }},
        {"--last", Takes::NUMBER,
         [&](const char *v) { return parse_int(v, 0, FILE_INDEX_MAX, &last); }},
    };
    int status = parse_command_line(argc, argv, program, USAGE, opts, &dir);
    if (status >= 0)
        return status;
    dir = dir ? dir : ".";
    if (mkdir(dir, 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "%s: cannot make %s: %s\n", program, dir, std::strerror(errno));
        return 1;
    }
    static char buf[1 << 20];
    std::string why;
    for (int n = 0; n <= last; ++n) {
        Out o{buf, 0, sizeof buf};
        if (max_size)
            write_ring(o, n);
        else
            write_plate(o, n);
        // Whole under its name at once, as a reader of the series expects; sample data need not
        // wait for the disk.
        WholeFile f;
        if (!whole_open(&f, std::string(dir) + "/" + res_file_name(n), &why) ||
            !whole_write(&f, o.buf, o.len, &why) || !whole_close(&f, false, &why) ||
            !whole_rename(&f, &why)) {
            std::fprintf(stderr, "%s: %s\n", program, why.c_str());
            return 1;
        }
    }
    return 0;
}
