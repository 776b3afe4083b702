#include "res_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <initializer_list>

namespace
{

// "ファイルがオープンできません\n" in Shift-JIS (code page 932): 29 bytes with the line feed.
const char OPEN_FAILURE_SJIS[] = "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x83\x49\x81\x5b\x83\x76"
                                 "\x83\x93\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\n";
// The same text in UTF-8.
const char OPEN_FAILURE_UTF8[] = "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x81\x8c"
                                 "\xe3\x82\xaa\xe3\x83\xbc\xe3\x83\x97\xe3\x83\xb3\xe3\x81\xa7"
                                 "\xe3\x81\x8d\xe3\x81\xbe\xe3\x81\x9b\xe3\x82\x93\n";

// The file is read in chunks of this size into a buffer on the stack.
constexpr std::size_t READ_CHUNK = std::size_t{64} * 1024;
// Longest token accepted; the buffer always holds the next token whole. No number comes near it.
constexpr long TOKEN_MAX = 4096;

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

// A run of decimal digits: where it ends and its value, saturated at 2^64 - 1.
struct Digits {
    const char *end;
    unsigned long long value;
    bool saturated;
};

// Powers of ten that 64 bits hold.
constexpr unsigned long long POW10_INT[] = {1ull,
                                            10ull,
                                            100ull,
                                            1000ull,
                                            10000ull,
                                            100000ull,
                                            1000000ull,
                                            10000000ull,
                                            100000000ull,
                                            1000000000ull,
                                            10000000000ull,
                                            100000000000ull,
                                            1000000000000ull,
                                            10000000000000ull,
                                            100000000000000ull,
                                            1000000000000000ull,
                                            10000000000000000ull,
                                            100000000000000000ull,
                                            1000000000000000000ull,
                                            10000000000000000000ull};

// Reads the decimal digits at q.
[[gnu::always_inline]] inline Digits scan_digits(const char *q, const char *end)
{
    Digits r{q, 0, false};
    unsigned long long v = 0;
    for (; r.end < end && (unsigned)(*r.end - '0') < 10u; ++r.end)
        v = v * 10 + (unsigned)(*r.end - '0');
    r.value = v;
    if (r.end - q > 19) {
        // Twenty digits or more may not fit: count again, saturating.
        r.value = 0;
        for (const char *d = q; d < r.end; ++d) {
            unsigned long long next;
            r.saturated |= __builtin_mul_overflow(r.value, 10ull, &next) ||
                           __builtin_add_overflow(next, (unsigned long long)(*d - '0'), &next);
            r.value = r.saturated ? ~0ull : next;
        }
    }
    return r;
}

// The integer token at r.p, if it is one (an optional sign, then decimal digits).
[[gnu::always_inline]] inline bool int_at(Reader &r, int *v, bool *too_large)
{
    const char *q = r.p;
    bool neg = *q == '-';
    q += *q == '-' || *q == '+';
    Digits d = scan_digits(q, r.end);
    if (d.end == q || !whole(r, d.end))
        return false;
    // INT_MIN's magnitude is one more than INT_MAX's.
    if (d.saturated || d.value > (neg ? 2147483648ull : 2147483647ull)) {
        *too_large = true;
        return false;
    }
    *v = (int)(neg ? -(long long)d.value : (long long)d.value);
    r.p = d.end;
    return true;
}

// Powers of ten that a double holds exactly.
constexpr double POW10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common case, a short decimal: a significand up to 2^53 times or over an exact power of ten
// is correctly rounded by one IEEE operation. Returns false where that does not hold.
[[gnu::always_inline]] inline bool quick_decimal(const char *q, const char *end, double *v,
                                                 const char **stop)
{
    bool neg = q < end && *q == '-';
    q += neg;
    Digits ip = scan_digits(q, end);
    unsigned long long m = ip.value;
    bool saturated = ip.saturated;
    bool any = ip.end != q;
    int e10 = 0; // decimal exponent of m's last digit
    q = ip.end;
    if (q < end && *q == '.') {
        Digits fp = scan_digits(q + 1, end);
        int nf = (int)(fp.end - (q + 1));
        if (nf > 19)
            return false;
        unsigned long long scaled;
        saturated |= fp.saturated || __builtin_mul_overflow(m, POW10_INT[nf], &scaled) ||
                     __builtin_add_overflow(scaled, fp.value, &m);
        any |= nf > 0;
        e10 = -nf;
        q = fp.end;
    }
    if (!any)
        return false;
    if (q < end && (*q == 'e' || *q == 'E')) {
        ++q;
        bool eneg = q < end && *q == '-';
        q += q < end && (*q == '-' || *q == '+');
        int e = 0;
        const char *ed = q;
        for (; q < end && (unsigned)(*q - '0') < 10u && q - ed < 4; ++q)
            e = e * 10 + (*q - '0');
        if (q == ed || (q < end && (unsigned)(*q - '0') < 10u))
            return false;
        e10 += eneg ? -e : e;
    }
    if (saturated || m > (1ull << 53) || e10 < -22 || e10 > 22)
        return false;
    double d = (double)m;
    d = e10 < 0 ? d / POW10[-e10] : d * POW10[e10];
    *v = neg ? -d : d;
    *stop = q;
    return true;
}

// Any other decimal form, through the full conversion; decimal notation only.
bool slow_decimal(Reader &r, const char *digits, double *v, bool *not_finite)
{
    auto c = std::from_chars(digits, r.end, *v, std::chars_format::general);
    if (c.ptr == digits || !whole(r, c.ptr))
        return false;
    if (c.ec == std::errc() && std::isfinite(*v)) {
        r.p = c.ptr;
        return true;
    }
    if (c.ec == std::errc::result_out_of_range) {
        // Too small underflows towards zero, as formatted input reads it; too large is refused.
        char copy[TOKEN_MAX + 1];
        std::size_t n = (std::size_t)(c.ptr - digits);
        std::memcpy(copy, digits, n);
        copy[n] = '\0';
        double d = std::strtod(copy, nullptr);
        if (std::isfinite(d)) {
            *v = d;
            r.p = c.ptr;
            return true;
        }
    }
    *not_finite = true;
    return false;
}

// The decimal token at r.p, if it is one and finite.
[[gnu::always_inline]] inline bool decimal_at(Reader &r, double *v, bool *not_finite)
{
    // A leading '+' is allowed before the number, as formatted input allows it.
    const char *digits = r.p;
    if (*digits == '+' && r.end - digits > 1 && digits[1] != '-' && digits[1] != '+')
        ++digits;
    const char *q = nullptr;
    if (quick_decimal(digits, r.end, v, &q) && whole(r, q)) {
        r.p = q;
        return true;
    }
    return slow_decimal(r, digits, v, not_finite);
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

const char *res_file_name(int n)
{
    // "res0" + at least three digits + ".inp", made once for the whole series.
    static char names[FILE_INDEX_MAX + 1][16];
    if (n < 0 || n > FILE_INDEX_MAX)
        return nullptr;
    if (names[n][0] == '\0')
        std::snprintf(names[n], sizeof names[n], "res0%03d.inp", n);
    return names[n];
}

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

std::size_t open_failure_message(char *out, std::size_t cap)
{
    // The locale categories' precedence: LC_ALL, then LC_CTYPE, then LANG.
    const char *loc = nullptr;
    for (const char *var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        loc = std::getenv(var);
        if (loc && *loc)
            break;
    }
    // The codeset follows the '.' of language_TERRITORY.codeset@modifier.
    char codeset[64] = "";
    char key[64] = "";
    if (loc && std::strchr(loc, '.')) {
        const char *c = std::strchr(loc, '.') + 1;
        std::size_t n = std::strcspn(c, "@");
        if (n < sizeof codeset) {
            std::memcpy(codeset, c, n);
            codeset[n] = '\0';
        }
        // Compare names without case, '-' or '_': "Shift_JIS", "SJIS", "utf8", "UTF-8".
        std::size_t k = 0;
        for (const char *q = codeset; *q && k + 1 < sizeof key; ++q)
            if (*q != '-' && *q != '_')
                key[k++] = (char)(*q >= 'A' && *q <= 'Z' ? *q - 'A' + 'a' : *q);
        key[k] = '\0';
    }
    const char *text = OPEN_FAILURE_UTF8;
    std::size_t len = sizeof OPEN_FAILURE_UTF8 - 1;
    for (const char *sjis : {"sjis", "shiftjis", "cp932", "windows31j", "mskanji", "pck"}) {
        if (std::strcmp(key, sjis) == 0) {
            text = OPEN_FAILURE_SJIS;
            len = sizeof OPEN_FAILURE_SJIS - 1;
        }
    }
    if (text == OPEN_FAILURE_UTF8 && key[0] != '\0' && std::strcmp(key, "utf8") != 0) {
        // Another encoding (EUC-JP, ISO-2022-JP, GB18030 ...): convert if it can hold the text.
        iconv_t cd = iconv_open(codeset, "UTF-8");
        if (cd != (iconv_t)-1) { // NOLINT(performance-no-int-to-ptr): iconv_open's failure value
            char *in = const_cast<char *>(OPEN_FAILURE_UTF8);
            std::size_t in_left = len;
            char *o = out;
            std::size_t out_left = cap;
            bool done = iconv(cd, &in, &in_left, &o, &out_left) != (std::size_t)-1 &&
                        iconv(cd, nullptr, nullptr, &o, &out_left) != (std::size_t)-1;
            iconv_close(cd);
            if (done && in_left == 0)
                return (std::size_t)(o - out);
        }
    }
    std::size_t n = len < cap ? len : cap;
    std::memcpy(out, text, n);
    return n;
}

void print_res_error(std::FILE *to, const char *file, const ResError &err)
{
    if (err.column > 0)
        std::fprintf(to, "%s:%d:%d: %s\n", file, err.line, err.column, err.what);
    else
        std::fprintf(to, "%s:%d: %s\n", file, err.line, err.what);
}

namespace
{

[[noreturn]] void open_failure(int n, const char *name, int errnum)
{
    char msg[128];
    std::size_t len = open_failure_message(msg, sizeof msg);
    std::fwrite(msg, 1, len, stdout);
    std::fflush(stdout);
    if (name)
        std::fprintf(stderr, "cannot open %s: %s\n", name, std::strerror(errnum));
    else
        std::fprintf(stderr, "no result file has index %d: the series runs from 0 to %d\n", n,
                     FILE_INDEX_MAX);
    std::exit(1);
}

} // namespace

Mesh read_res(int n)
{
    static Mesh mesh; // the reader's own record, cleared by every parse
    const char *name = res_file_name(n);
    if (!name)
        open_failure(n, nullptr, 0);
    std::FILE *in = std::fopen(name, "r");
    if (!in)
        open_failure(n, name, errno);
    // The parser reads in large chunks of its own; a stdio buffer would only add a copy.
    std::setvbuf(in, nullptr, _IONBF, 0);
    ResError err{};
    bool ok = parse_res(in, &mesh, &err);
    std::fclose(in);
    if (!ok) {
        std::fflush(stdout);
        print_res_error(stderr, name, err);
        std::exit(1);
    }
    return mesh;
}
