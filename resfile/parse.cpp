// The result-file parser: one pass over the bytes, from memory or from a FILE read in chunks,
// stopping at the last node record. Numbers go through std::from_chars, which ignores the
// process's locale. Standard C++ only.
#include "resfile/tokens.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <initializer_list>

namespace
{

using namespace res_tokens;

void fail(Reader &r, int column, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

void fail(Reader &r, int column, const char *fmt, ...)
{
    r.err->line = r.token_line;
    r.err->column = column;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(r.err->what, sizeof r.err->what, fmt, ap);
    va_end(ap);
}

int column(const Reader &r)
{
    return (int)(r.base + (r.p - r.origin) - r.line_start + 1);
}

// The file ended where `field` was expected; placed on the last line that holds a token.
[[gnu::cold]] bool ends_early(Reader &r, const char *field, int rec, int nrec)
{
    if (nrec > 0)
        fail(r, 0, "file ends early: %s of record %d of %d is missing", field, rec, nrec);
    else
        fail(r, 0, "file ends early: %s is missing", field);
    return false;
}

// The token at r.p is not a number of the kind expected, or too long to be one.
[[gnu::cold]] bool bad_token(Reader &r, const char *field, const char *fmt)
{
    const char *limit = r.end - r.p > TOKEN_MAX ? r.p + TOKEN_MAX + 1 : r.end;
    const char *q = r.p;
    while (q < limit && !is_space(*q))
        ++q;
    if (q - r.p > TOKEN_MAX) {
        fail(r, column(r), "%s is longer than %ld bytes", field, TOKEN_MAX);
        return false;
    }
    // A text editor's UTF-8 byte-order mark, which the format does not allow, at the file's start.
    if (r.base + (r.p - r.origin) == 0 && q - r.p >= 3 &&
        std::memcmp(r.p, "\xef\xbb\xbf", 3) == 0) {
        fail(r, 1, "the file begins with a UTF-8 byte-order mark; save it without one");
        return false;
    }
    // At most 24 bytes of the token, anything unprintable shown as '?'.
    char shown[32];
    std::size_t n = (std::size_t)(q - r.p) < 24 ? (std::size_t)(q - r.p) : 24;
    for (std::size_t i = 0; i < n; ++i)
        shown[i] = r.p[i] >= 0x20 && r.p[i] < 0x7f ? r.p[i] : '?';
    std::strcpy(shown + n, (std::size_t)(q - r.p) > n ? "..." : "");
    fail(r, column(r), fmt, field, shown);
    return false;
}

// Takes the next token as an integer. `field` names it for messages, in record rec of nrec.
[[gnu::always_inline]] inline bool take_int(Reader &r, int *v, const char *field, int rec, int nrec)
{
    if (!next(r))
        return ends_early(r, field, rec, nrec);
    bool too_large = false;
    if (int_at(r, v, &too_large))
        return true;
    return bad_token(r, field,
                     too_large ? "%s \"%s\" is too large for an integer"
                               : "%s should be an integer, found \"%s\"");
}

// Takes the next token as a finite decimal number.
[[gnu::always_inline]] inline bool take_coordinate(Reader &r, double *v, const char *field, int rec,
                                                   int nrec)
{
    if (!next(r))
        return ends_early(r, field, rec, nrec);
    bool not_finite = false;
    if (decimal_at(r, v, &not_finite))
        return true;
    return bad_token(r, field,
                     not_finite ? "%s \"%s\" is not a finite number"
                                : "%s should be a decimal number, found \"%s\"");
}

// The header's counts, each checked against the capacity.
bool parse_counts(Reader &r, int *np, int *nele)
{
    if (!take_int(r, np, "node count", 0, 0))
        return false;
    if (*np < 0 || *np > MESH_CAPACITY) {
        fail(r, 0, "node count %d outside 0..%d", *np, MESH_CAPACITY);
        return false;
    }
    if (!take_int(r, nele, "element count", 0, 0))
        return false;
    if (*nele < 0 || *nele > MESH_CAPACITY) {
        fail(r, 0, "element count %d outside 0..%d", *nele, MESH_CAPACITY);
        return false;
    }
    return true;
}

// The number of record rec of n into *k: within 1..n and not named before. field and noun name
// it in messages ("element number", "element"); named_on holds the line on which each number was
// first named, 0 while it has not been.
[[gnu::always_inline]] inline bool take_record_number(Reader &r, const char *field,
                                                      const char *noun, int rec, int n,
                                                      int *named_on, int *k)
{
    if (!take_int(r, k, field, rec, n))
        return false;
    if (*k < 1 || *k > n) {
        fail(r, 0, "%s %d outside 1..%d", field, *k, n);
        return false;
    }
    if (named_on[*k - 1]) {
        fail(r, 0, "%s %d named twice (first on line %d)", noun, *k, named_on[*k - 1]);
        return false;
    }
    named_on[*k - 1] = r.token_line;
    return true;
}

// The element records, each into the slot its number names.
bool parse_elements(Reader &r, Mesh *mesh, int *named_on)
{
    const int np = mesh->np, nele = mesh->nele;
    std::memset(named_on, 0, sizeof(int) * (std::size_t)nele);
    for (int rec = 1; rec <= nele; ++rec) {
        int kele = 0;
        if (!take_record_number(r, "element number", "element", rec, nele, named_on, &kele))
            return false;
        for (int j = 0; j < 3; ++j) {
            int kp = 0;
            if (!take_int(r, &kp, "corner node", rec, nele))
                return false;
            if (kp < 1 || kp > np) {
                if (np == 0)
                    fail(r, 0, "element %d names node %d, but the file has no nodes", kele, kp);
                else
                    fail(r, 0, "element %d names node %d, but the file has %d nodes", kele, kp, np);
                return false;
            }
            mesh->ele[kele - 1][j] = kp - 1;
        }
    }
    return true;
}

// The node records, each into the slot its number names.
bool parse_nodes(Reader &r, Mesh *mesh, int *named_on)
{
    const int np = mesh->np;
    std::memset(named_on, 0, sizeof(int) * (std::size_t)np);
    for (int rec = 1; rec <= np; ++rec) {
        int kp = 0;
        if (!take_record_number(r, "node number", "node", rec, np, named_on, &kp) ||
            !take_coordinate(r, &mesh->x[kp - 1], "x coordinate", rec, np) ||
            !take_coordinate(r, &mesh->y[kp - 1], "y coordinate", rec, np))
            return false;
    }
    return true;
}

// Header, element records, node records; every count and number checked before it indexes.
bool parse(Reader &r, Mesh *mesh)
{
    std::memset(mesh, 0, sizeof *mesh);
    int np = 0, nele = 0;
    if (!parse_counts(r, &np, &nele))
        return false;
    mesh->np = np;
    mesh->nele = nele;
    int named_on[MESH_CAPACITY];
    return parse_elements(r, mesh, named_on) && parse_nodes(r, mesh, named_on);
}

} // namespace

bool parse_res_text(const char *text, std::size_t len, Mesh *mesh, ResError *err)
{
    Reader r{nullptr, -1, 0, nullptr, text, text + len, text + len, true,
             text,    0,  0, 1,       1,    err,        false};
    err->errnum = 0;
    return parse(r, mesh);
}

namespace
{

// Parses from a stream or a descriptor; a read that fails is the fault, whatever the parse made of
// the bytes before it.
bool parse_read(std::FILE *in, int fd, Mesh *mesh, ResError *err, bool nonfinite)
{
    char buf[READ_CHUNK];
    Reader r{in, fd, 0, buf, buf, buf, buf, false, buf, 0, 0, 1, 1, err, nonfinite};
    err->errnum = 0;
    bool ok = parse(r, mesh);
    if (ok || r.read_errno == 0)
        return ok;
    r.token_line = r.line;
    err->errnum = r.read_errno;
    fail(r, 0, "read error: %s", std::strerror(r.read_errno));
    return false;
}

} // namespace

bool parse_res(std::FILE *in, Mesh *mesh, ResError *err)
{
    return parse_read(in, -1, mesh, err, false);
}

bool parse_res_fd(int fd, Mesh *mesh, ResError *err, bool nonfinite)
{
    return parse_read(nullptr, fd, mesh, err, nonfinite);
}
