// Writes a result series res0000.inp .. res01010.inp: a plate with a circular hole, meshed with
// triangles, bending back and forth over time. With --max-size every file holds a ring of
// 4999 nodes and 4999 triangles instead, the largest mesh a result file may hold.
#include "res_file.h"

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

int usage(FILE *to)
{
    std::fprintf(to, "usage: resview-sample-series [--max-size] [--last N] [DIR]\n"
                     "Writes res0000.inp .. the file of index N (default 1010) into DIR "
                     "(default: the working directory).\n");
    return to == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char **argv)
{
    bool max_size = false;
    int last = FILE_INDEX_MAX;
    const char *dir = ".";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return usage(stdout);
        if (std::strcmp(argv[i], "--max-size") == 0) {
            max_size = true;
        } else if (std::strcmp(argv[i], "--last") == 0 && i + 1 < argc) {
            char *end = nullptr;
            long v = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || v < 0 || v > FILE_INDEX_MAX) {
                std::fprintf(stderr, "resview-sample-series: --last takes 0..%d\n", FILE_INDEX_MAX);
                return 2;
            }
            last = (int)v;
        } else if (argv[i][0] == '-' || dir[0] != '.' || dir[1] != '\0') {
            return usage(stderr);
        } else {
            dir = argv[i];
        }
    }
    if (mkdir(dir, 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "resview-sample-series: cannot make %s: %s\n", dir,
                     std::strerror(errno));
        return 1;
    }
    static char buf[1 << 20];
    for (int n = 0; n <= last; ++n) {
        Out o{buf, 0, sizeof buf};
        if (max_size)
            write_ring(o, n);
        else
            write_plate(o, n);
        std::string path = std::string(dir) + "/" + res_file_name(n);
        FILE *f = std::fopen(path.c_str(), "w");
        if (!f || std::fwrite(o.buf, 1, o.len, f) != o.len || std::fclose(f) != 0) {
            std::fprintf(stderr, "resview-sample-series: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    return 0;
}
