// The result-file parser: one pass over the bytes, from memory or from a FILE read in chunks,
// stopping at the last node record. Numbers go through std::from_chars, which ignores the
// process's locale. Standard C++ only.
#include "res_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <initializer_list>

// The fuzz build makes both small, so that short inputs cross chunk boundaries.
#ifndef RES_READ_CHUNK
#define RES_READ_CHUNK 65536
#endif
#ifndef RES_TOKEN_MAX
#define RES_TOKEN_MAX 4096
#endif

namespace
{

// The file is read in chunks of this size into a buffer on the stack.
constexpr std::size_t READ_CHUNK = RES_READ_CHUNK;
// Longest token accepted; the buffer always holds the next token whole. No number comes near it.
constexpr long TOKEN_MAX = RES_TOKEN_MAX;
static_assert(READ_CHUNK > 2 * TOKEN_MAX, "a chunk holds a whole token after the kept bytes");

// Walks the tokens of a result file (white-space separated runs of other bytes), from memory or
// from `in` through `buf`, counting lines as it goes.
struct Reader {
    std::FILE *in;        // nullptr when the whole text is in [p, end)
    char *buf;            // READ_CHUNK bytes when in is set
    const char *p;        // the token at hand, or the next unread byte
    const char *end;      // end of the bytes at hand
    const char *safe;     // while p is below this, the token at p lies whole before end
    bool eof;             // nothing more to read beyond end
    const char *origin;   // byte that sits at offset `base` of the input
    long long base;       // offset of `origin` in the input
    long long line_start; // offset of the first byte of p's line
    int line;             // 1-based line of p
    int token_line;       // line of the last token reached
    ResError *err;
};

// The white space of formatted input in the C locale.
struct SpaceTable {
    bool is[256] = {};
    constexpr SpaceTable()
    {
        for (char c : {' ', '\n', '\t', '\r', '\v', '\f'})
            is[(unsigned char)c] = true;
    }
};
constexpr SpaceTable SPACE;

inline bool is_space(char c)
{
    return SPACE.is[(unsigned char)c];
}

// Moves the unread bytes to the front of the buffer and reads until more than TOKEN_MAX bytes
// are at hand or the file ends.
void refill(Reader &r)
{
    std::size_t keep = (std::size_t)(r.end - r.p);
    long long p_offset = r.base + (r.p - r.origin);
    if (keep > 0 && r.p != r.buf)
        std::memmove(r.buf, r.p, keep);
    r.origin = r.buf;
    r.base = p_offset;
    r.p = r.buf;
    r.end = r.buf + keep;
    while (!r.eof && r.end - r.p <= TOKEN_MAX) {
        std::size_t used = (std::size_t)(r.end - r.buf);
        std::size_t got = std::fread(r.buf + used, 1, READ_CHUNK - used, r.in);
        r.end += got;
        r.eof = got == 0;
    }
    r.safe = r.eof ? r.end : r.end - TOKEN_MAX;
}

// Skips white space to the next token and makes sure it lies whole in the buffer.
// Returns false at the end of the input.
[[gnu::always_inline]] inline bool next(Reader &r)
{
    for (;;) {
        const char *p = r.p;
        while (p < r.end && is_space(*p)) {
            if (*p == '\n') {
                ++r.line;
                r.line_start = r.base + (p + 1 - r.origin);
            }
            ++p;
        }
        r.p = p;
        if (p < r.safe || r.eof)
            break;
        refill(r);
    }
    if (r.p == r.end)
        return false;
    r.token_line = r.line;
    return true;
}

// Whether a number read from the token's start up to q is the whole token.
[[gnu::always_inline]] inline bool whole(const Reader &r, const char *q)
{
    return q - r.p <= TOKEN_MAX && (q == r.end || is_space(*q));
}

// Where the number proper starts: after a leading '+', which formatted input allows and
// from_chars does not, unless a second sign follows it.
[[gnu::always_inline]] inline const char *skip_plus(const Reader &r)
{
    const char *q = r.p;
    if (*q == '+' && r.end - q > 1 && q[1] != '-' && q[1] != '+')
        ++q;
    return q;
}

// The integer token at r.p, if it is one (an optional sign, then decimal digits). Flattened, so
// that from_chars is compiled for base 10 alone: a fifth of the read is integers.
[[gnu::flatten]] inline bool int_at(Reader &r, int *v, bool *too_large)
{
    const char *digits = skip_plus(r);
    auto c = std::from_chars(digits, r.end, *v);
    if (c.ptr == digits || !whole(r, c.ptr))
        return false;
    if (c.ec == std::errc::result_out_of_range) {
        *too_large = true;
        return false;
    }
    r.p = c.ptr;
    return true;
}

// from_chars reports a decimal as out of range when it rounds to zero or to infinity. Which of
// the two follows from the decimal exponent of its first significant digit: the significand's
// digits before the point (or minus its zeros after the point), plus the exponent.
[[gnu::cold]] bool rounds_to_zero(const char *digits, const char *stop)
{
    long long lead = 0; // digits from the first significant one to the point, negative after it
    bool point = false, significant = false;
    const char *q = digits;
    for (; q < stop && *q != 'e' && *q != 'E'; ++q) {
        if (*q == '.') {
            point = true;
        } else if (*q != '0' || significant) {
            significant = true;
            lead += point ? 0 : 1;
        } else if (point) {
            --lead;
        }
    }
    long long exp = 0;
    if (q < stop) {
        const char *e = q + 1 + (q + 1 < stop && q[1] == '+');
        auto c = std::from_chars(e, stop, exp);
        if (c.ec == std::errc::result_out_of_range)
            return *e == '-'; // beyond any significand's reach
    }
    return lead + exp < 0;
}

// The decimal token at r.p, if it is one and finite; decimal notation only.
[[gnu::always_inline]] inline bool decimal_at(Reader &r, double *v, bool *not_finite)
{
    const char *digits = skip_plus(r);
    auto c = std::from_chars(digits, r.end, *v, std::chars_format::general);
    if (c.ptr == digits || !whole(r, c.ptr))
        return false;
    if (c.ec == std::errc::result_out_of_range) {
        // Too small underflows to a signed zero, as formatted input reads it; too large is refused.
        const char *mag = digits + (*digits == '-');
        if (rounds_to_zero(mag, c.ptr)) {
            *v = *digits == '-' ? -0.0 : 0.0;
            r.p = c.ptr;
            return true;
        }
    } else if (std::isfinite(*v)) {
        r.p = c.ptr;
        return true;
    }
    *not_finite = true;
    return false;
}

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

// Header, element records, node records; every count and number checked before it indexes.
bool parse(Reader &r, Mesh *mesh)
{
    std::memset(mesh, 0, sizeof *mesh);
    int np = 0;
    int nele = 0;
    if (!take_int(r, &np, "node count", 0, 0))
        return false;
    if (np < 0 || np > MESH_CAPACITY) {
        fail(r, 0, "node count %d outside 0..%d", np, MESH_CAPACITY);
        return false;
    }
    if (!take_int(r, &nele, "element count", 0, 0))
        return false;
    if (nele < 0 || nele > MESH_CAPACITY) {
        fail(r, 0, "element count %d outside 0..%d", nele, MESH_CAPACITY);
        return false;
    }
    mesh->np = np;
    mesh->nele = nele;

    // Line on which each number was first named, 0 while it has not been.
    int named_on[MESH_CAPACITY];
    std::memset(named_on, 0, sizeof(int) * (std::size_t)nele);
    for (int rec = 1; rec <= nele; ++rec) {
        int kele = 0;
        if (!take_int(r, &kele, "element number", rec, nele))
            return false;
        if (kele < 1 || kele > nele) {
            fail(r, 0, "element number %d outside 1..%d", kele, nele);
            return false;
        }
        if (named_on[kele - 1]) {
            fail(r, 0, "element %d named twice (first on line %d)", kele, named_on[kele - 1]);
            return false;
        }
        named_on[kele - 1] = r.token_line;
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

    std::memset(named_on, 0, sizeof(int) * (std::size_t)np);
    for (int rec = 1; rec <= np; ++rec) {
        int kp = 0;
        if (!take_int(r, &kp, "node number", rec, np))
            return false;
        if (kp < 1 || kp > np) {
            fail(r, 0, "node number %d outside 1..%d", kp, np);
            return false;
        }
        if (named_on[kp - 1]) {
            fail(r, 0, "node %d named twice (first on line %d)", kp, named_on[kp - 1]);
            return false;
        }
        named_on[kp - 1] = r.token_line;
        if (!take_coordinate(r, &mesh->x[kp - 1], "x coordinate", rec, np) ||
            !take_coordinate(r, &mesh->y[kp - 1], "y coordinate", rec, np))
            return false;
    }
    return true;
}

} // namespace

bool parse_res_text(const char *text, std::size_t len, Mesh *mesh, ResError *err)
{
    Reader r{nullptr, nullptr, text, text + len, text + len, true, text, 0, 0, 1, 1, err};
    return parse(r, mesh);
}

bool parse_res(std::FILE *in, Mesh *mesh, ResError *err)
{
    char buf[READ_CHUNK];
    Reader r{in, buf, buf, buf, buf, false, buf, 0, 0, 1, 1, err};
    bool ok = parse(r, mesh);
    if (ok || !std::ferror(in))
        return ok;
    r.token_line = r.line;
    fail(r, 0, "read error: %s", std::strerror(errno));
    return false;
}
