#include "tools/resdiff/compare.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

// How corners b sit against a: the same triangle (a rotation), the same turned the other way
// round (a rotation of the reversed order), or another one.
enum class Corners { SAME, FLIPPED, OTHER };

Corners corners_of(const int a[3], const int b[3])
{
    for (int r = 0; r < 3; ++r) {
        if (a[0] == b[r] && a[1] == b[(r + 1) % 3] && a[2] == b[(r + 2) % 3])
            return Corners::SAME;
        if (a[0] == b[r] && a[1] == b[(r + 2) % 3] && a[2] == b[(r + 1) % 3])
            return Corners::FLIPPED;
    }
    return Corners::OTHER;
}

// Whether a and b differ by t; *needed widens to the atol with which they would not.
bool differ(double a, double b, double atol, const Tolerance &t, int *nonfinite, double *needed)
{
    if (!std::isfinite(a) || !std::isfinite(b)) {
        const bool equal =
            t.nan_equal && ((std::isnan(a) && std::isnan(b)) || (std::isinf(a) && a == b));
        *nonfinite += !equal;
        return !equal;
    }
    const double d = std::fabs(a - b);
    const double rel = t.rtol * std::max(std::fabs(a), std::fabs(b));
    if (d > rel)
        *needed = std::max(*needed, d);
    return d > std::max(atol, rel);
}

// The length of the shortest edge of m at node i; 0 when no element has it.
double shortest_edge_at(const Mesh &m, int i)
{
    double shortest = 0;
    for (int e = 0; e < m.nele; ++e) {
        for (int j = 0; j < 3; ++j) {
            if (m.ele[e][j] != i)
                continue;
            for (int k : {(j + 1) % 3, (j + 2) % 3}) {
                const int o = m.ele[e][k];
                const double len = std::hypot(m.x[o] - m.x[i], m.y[o] - m.y[i]);
                shortest = shortest == 0 ? len : std::min(shortest, len);
            }
        }
    }
    return shortest;
}

// The whole of a regular file; false when it is not one or cannot be read. Opened without
// waiting, so that a FIFO of that name never blocks.
bool read_all(const std::string &path, std::vector<char> *bytes)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    bool ok = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    bytes->clear();
    char buf[65536];
    while (ok) {
        const ssize_t k = read(fd, buf, sizeof buf);
        if (k < 0 && errno == EINTR)
            continue;
        ok = k >= 0;
        if (k <= 0)
            break;
        bytes->insert(bytes->end(), buf, buf + k);
    }
    if (fd >= 0)
        close(fd);
    return ok;
}

} // namespace

PairResult compare_pair(int n, const Mesh &ref, const Mesh &cand, const Tolerance &t)
{
    PairResult r;
    r.n = n;
    r.np = cand.np;
    r.nele = cand.nele;
    if (ref.np != cand.np || ref.nele != cand.nele) {
        r.structure = std::to_string(cand.np) + " nodes and " + std::to_string(cand.nele) +
                      " elements, against " + std::to_string(ref.np) + " and " +
                      std::to_string(ref.nele) + " in the reference";
        return r;
    }
    for (int e = 0; e < ref.nele; ++e) {
        const Corners c = corners_of(ref.ele[e], cand.ele[e]);
        if (c == Corners::OTHER && r.structure.empty())
            r.structure = "element " + std::to_string(e + 1) + " joins other nodes";
        if (c == Corners::FLIPPED && r.nflipped++ == 0)
            r.first_flipped = e;
    }
    // The box's diagonal: what a tolerance relative to the size of the problem is a share of.
    double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
    bool any = false;
    for (int i = 0; i < ref.np; ++i) {
        if (!std::isfinite(ref.x[i]) || !std::isfinite(ref.y[i]))
            continue;
        xmin = any ? std::min(xmin, ref.x[i]) : ref.x[i];
        xmax = any ? std::max(xmax, ref.x[i]) : ref.x[i];
        ymin = any ? std::min(ymin, ref.y[i]) : ref.y[i];
        ymax = any ? std::max(ymax, ref.y[i]) : ref.y[i];
        any = true;
    }
    r.diagonal = std::hypot(xmax - xmin, ymax - ymin);
    r.atol = t.atol_of_diagonal ? t.atol * r.diagonal : t.atol;
    for (int i = 0; i < ref.np; ++i) {
        const int before = r.nonfinite;
        const bool dx = differ(ref.x[i], cand.x[i], r.atol, t, &r.nonfinite, &r.needed_atol);
        const bool dy = differ(ref.y[i], cand.y[i], r.atol, t, &r.nonfinite, &r.needed_atol);
        if (r.nonfinite > before && r.first_nonfinite < 0)
            r.first_nonfinite = i;
        r.ndiffer += (dx || dy) && r.nonfinite == before;
        const double d = std::hypot(cand.x[i] - ref.x[i], cand.y[i] - ref.y[i]);
        if (std::isfinite(d) && (r.largest.node < 0 || d > r.largest.delta)) {
            r.largest.node = i;
            r.largest.delta = d;
        }
    }
    if (r.largest.node >= 0) {
        NodeDelta &l = r.largest;
        l.ref_x = ref.x[l.node];
        l.ref_y = ref.y[l.node];
        l.cand_x = cand.x[l.node];
        l.cand_y = cand.y[l.node];
        l.shortest_edge = shortest_edge_at(ref, l.node);
    }
    return r;
}

bool same_bytes(const std::string &a, const std::string &b)
{
    std::vector<char> x, y;
    return read_all(a, &x) && read_all(b, &y) && x == y;
}
