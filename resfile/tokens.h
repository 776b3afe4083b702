// The tokens of a result file: the buffer the parser reads through, white space, lines counted as
// it goes, and whole decimal numbers read without the locale. Included by the parser alone; every
// function is inline, so that the hot loop compiles as one.
#pragma once

#include "resfile/res_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

// The fuzz build makes both small, so that short inputs cross chunk boundaries.
#ifndef RES_READ_CHUNK
#define RES_READ_CHUNK 65536
#endif
#ifndef RES_TOKEN_MAX
#define RES_TOKEN_MAX 4096
#endif

namespace res_tokens
{

// The file is read in chunks of this size into a buffer on the stack.
constexpr std::size_t READ_CHUNK = RES_READ_CHUNK;
// Longest token accepted; the buffer always holds the next token whole. No number comes near it.
constexpr long TOKEN_MAX = RES_TOKEN_MAX;
static_assert(READ_CHUNK > 2 * TOKEN_MAX, "a chunk holds a whole token after the kept bytes");

// Walks the tokens of a result file (white-space separated runs of other bytes), from memory, or
// from the descriptor fd or the stream in through `buf`, counting lines as it goes.
struct Reader {
    std::FILE *in;        // a stream to read, or nullptr
    int fd;               // a descriptor to read, or -1; neither: the whole text is in [p, end)
    int read_errno;       // what stopped a read before the end of the input, else 0
    char *buf;            // READ_CHUNK bytes when reading
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
    bool nonfinite; // a coordinate may be NaN or infinite ("nan", "inf", "1e999")
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
inline void refill(Reader &r)
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
        std::size_t got = 0;
        if (r.in) {
            got = std::fread(r.buf + used, 1, READ_CHUNK - used, r.in);
            r.read_errno = std::ferror(r.in) ? errno : 0;
        } else {
            ssize_t k = 0;
            do
                k = ::read(r.fd, r.buf + used, READ_CHUNK - used);
            while (k < 0 && errno == EINTR);
            got = k > 0 ? (std::size_t)k : 0;
            r.read_errno = k < 0 ? errno : 0;
        }
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
[[gnu::cold]] inline bool rounds_to_zero(const char *digits, const char *stop)
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
        // Too small underflows to a signed zero, as formatted input reads it; too large is refused,
        // or taken as an infinity where non-finite values are read.
        const char *mag = digits + (*digits == '-');
        if (rounds_to_zero(mag, c.ptr) || r.nonfinite) {
            *v = rounds_to_zero(mag, c.ptr) ? 0.0 : HUGE_VAL;
            *v = *digits == '-' ? -*v : *v;
            r.p = c.ptr;
            return true;
        }
    } else if (std::isfinite(*v) || r.nonfinite) {
        r.p = c.ptr;
        return true;
    }
    *not_finite = true;
    return false;
}
} // namespace res_tokens
