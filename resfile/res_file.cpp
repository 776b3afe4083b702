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

// Longest token the file reader assembles across buffer refills; a number is never this long.
constexpr std::size_t READ_CHUNK = 64 * 1024;

// Walks the tokens of a result file: white-space separated runs of other bytes.
// Reads from memory, or refills `buf` from `in` as tokens are taken.
struct Scanner {
    std::FILE *in;   // nullptr when the whole text is in [p, end)
    char *buf;       // refill buffer of READ_CHUNK bytes when in is set
    const char *p;   // next unread byte
    const char *end; // end of the bytes at hand
    int line;        // 1-based line of p
    int col;         // 1-based column of p
};

bool is_space(char c)
{
    return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Keeps the `keep` bytes that start at `from` and appends what the file has next.
// Returns false when nothing more could be read.
bool refill(Scanner &s, const char *from)
{
    if (!s.in)
        return false;
    std::size_t keep = (std::size_t)(s.end - from);
    if (keep > 0 && from != s.buf)
        std::memmove(s.buf, from, keep);
    std::size_t got = keep < READ_CHUNK ? std::fread(s.buf + keep, 1, READ_CHUNK - keep, s.in) : 0;
    s.p = s.buf + keep;
    s.end = s.buf + keep + got;
    return got > 0;
}

enum class Token { OK, END, TOO_LONG };

// Skips white space and takes the next token into [*tok, *tok + *len).
// The token stays valid until the next call.
Token next_token(Scanner &s, const char **tok, std::size_t *len, int *line, int *col)
{
    for (;;) {
        while (s.p < s.end && is_space(*s.p)) {
            if (*s.p == '\n') {
                ++s.line;
                s.col = 1;
            } else {
                ++s.col;
            }
            ++s.p;
        }
        if (s.p < s.end)
            break;
        if (!refill(s, s.end))
            return Token::END;
    }
    const char *start = s.p;
    const char *q = s.p;
    for (;;) {
        while (q < s.end && !is_space(*q))
            ++q;
        if (q < s.end || !s.in)
            break;
        // The token runs up to the end of the buffer: move it to the front and read on.
        std::size_t have = (std::size_t)(q - start);
        if (have >= READ_CHUNK)
            return Token::TOO_LONG;
        if (!refill(s, start)) {
            start = s.buf;
            q = s.end;
            break;
        }
        start = s.buf;
        q = s.buf + have;
    }
    *tok = start;
    *len = (std::size_t)(q - start);
    *line = s.line;
    *col = s.col;
    s.col += (int)*len;
    s.p = q;
    return Token::OK;
}

struct Parser {
    Scanner s;
    ResError *err;
    // Line and column of the last token taken.
    int line;
    int col;
};

void fail_at(Parser &ps, int column, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

void fail_at(Parser &ps, int column, const char *fmt, ...)
{
    ps.err->line = ps.line;
    ps.err->column = column;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(ps.err->what, sizeof ps.err->what, fmt, ap);
    va_end(ap);
}

// Copies a token for a message: at most 24 bytes, anything unprintable shown as '?'.
void quote(const char *tok, std::size_t len, char (&out)[32])
{
    std::size_t n = len < 24 ? len : 24;
    for (std::size_t i = 0; i < n; ++i)
        out[i] = tok[i] >= 0x20 && tok[i] < 0x7f ? tok[i] : '?';
    std::strcpy(out + n, len > n ? "..." : "");
}

// Takes the next token, or reports what the file lacks. `field` names what was expected.
bool take(Parser &ps, const char **tok, std::size_t *len, const char *field, int rec, int nrec)
{
    Token t = next_token(ps.s, tok, len, &ps.line, &ps.col);
    if (t == Token::OK)
        return true;
    if (t == Token::TOO_LONG) {
        ps.line = ps.s.line;
        fail_at(ps, ps.s.col, "%s is longer than %zu bytes", field, READ_CHUNK);
        return false;
    }
    // The fault is placed on the last line that holds a token.
    if (nrec > 0)
        fail_at(ps, 0, "file ends early: %s of record %d of %d is missing", field, rec, nrec);
    else
        fail_at(ps, 0, "file ends early: %s is missing", field);
    return false;
}

// A leading '+' is allowed before the digits, as formatted input allows it.
const char *skip_plus(const char *tok, std::size_t len)
{
    return len > 1 && tok[0] == '+' && tok[1] != '-' && tok[1] != '+' ? tok + 1 : tok;
}

bool take_int(Parser &ps, int *v, const char *field, int rec, int nrec)
{
    const char *tok;
    std::size_t len;
    if (!take(ps, &tok, &len, field, rec, nrec))
        return false;
    const char *end = tok + len;
    auto r = std::from_chars(skip_plus(tok, len), end, *v);
    if (r.ec == std::errc() && r.ptr == end)
        return true;
    char shown[32];
    quote(tok, len, shown);
    if (r.ec == std::errc::result_out_of_range && r.ptr == end)
        fail_at(ps, ps.col, "%s \"%s\" is too large for an integer", field, shown);
    else
        fail_at(ps, ps.col, "%s should be an integer, found \"%s\"", field, shown);
    return false;
}

bool take_coordinate(Parser &ps, double *v, const char *field, int rec, int nrec)
{
    const char *tok;
    std::size_t len;
    if (!take(ps, &tok, &len, field, rec, nrec))
        return false;
    const char *end = tok + len;
    const char *digits = skip_plus(tok, len);
    // Decimal notation only: from_chars takes no hexadecimal form in this format.
    auto r = std::from_chars(digits, end, *v, std::chars_format::general);
    bool whole = r.ptr == end;
    if (r.ec == std::errc() && whole && std::isfinite(*v))
        return true;
    if (r.ec == std::errc::result_out_of_range && whole) {
        // Too small underflows towards zero, as formatted input reads it; too large is refused.
        char copy[128];
        std::size_t n = (std::size_t)(end - digits);
        if (n < sizeof copy) {
            std::memcpy(copy, digits, n);
            copy[n] = '\0';
            double d = std::strtod(copy, nullptr);
            if (std::isfinite(d)) {
                *v = d;
                return true;
            }
        }
    }
    char shown[32];
    quote(tok, len, shown);
    if ((r.ec == std::errc() || r.ec == std::errc::result_out_of_range) && whole)
        fail_at(ps, ps.col, "%s \"%s\" is not a finite number", field, shown);
    else
        fail_at(ps, ps.col, "%s should be a decimal number, found \"%s\"", field, shown);
    return false;
}

// Header, element records, node records; every count and number checked before it indexes.
bool parse(Parser &ps, Mesh *mesh)
{
    std::memset(mesh, 0, sizeof *mesh);
    ps.line = 1;
    ps.col = 1;
    int np = 0;
    int nele = 0;
    if (!take_int(ps, &np, "node count", 0, 0))
        return false;
    if (np < 0 || np > MESH_CAPACITY) {
        fail_at(ps, 0, "node count %d outside 0..%d", np, MESH_CAPACITY);
        return false;
    }
    if (!take_int(ps, &nele, "element count", 0, 0))
        return false;
    if (nele < 0 || nele > MESH_CAPACITY) {
        fail_at(ps, 0, "element count %d outside 0..%d", nele, MESH_CAPACITY);
        return false;
    }
    mesh->np = np;
    mesh->nele = nele;

    // Line on which each number was first named, 0 while it has not been.
    int named_on[MESH_CAPACITY] = {};
    for (int r = 1; r <= nele; ++r) {
        int kele = 0;
        if (!take_int(ps, &kele, "element number", r, nele))
            return false;
        if (kele < 1 || kele > nele) {
            fail_at(ps, 0, "element number %d outside 1..%d", kele, nele);
            return false;
        }
        if (named_on[kele - 1]) {
            fail_at(ps, 0, "element %d named twice (first on line %d)", kele, named_on[kele - 1]);
            return false;
        }
        named_on[kele - 1] = ps.line;
        for (int j = 0; j < 3; ++j) {
            int kp = 0;
            if (!take_int(ps, &kp, "corner node", r, nele))
                return false;
            if (kp < 1 || kp > np) {
                if (np == 0)
                    fail_at(ps, 0, "element %d names node %d, but the file has no nodes", kele, kp);
                else
                    fail_at(ps, 0, "element %d names node %d, but the file has %d nodes", kele, kp,
                            np);
                return false;
            }
            mesh->ele[kele - 1][j] = kp - 1;
        }
    }

    std::memset(named_on, 0, sizeof named_on);
    for (int r = 1; r <= np; ++r) {
        int kp = 0;
        if (!take_int(ps, &kp, "node number", r, np))
            return false;
        if (kp < 1 || kp > np) {
            fail_at(ps, 0, "node number %d outside 1..%d", kp, np);
            return false;
        }
        if (named_on[kp - 1]) {
            fail_at(ps, 0, "node %d named twice (first on line %d)", kp, named_on[kp - 1]);
            return false;
        }
        named_on[kp - 1] = ps.line;
        if (!take_coordinate(ps, &mesh->x[kp - 1], "x coordinate", r, np) ||
            !take_coordinate(ps, &mesh->y[kp - 1], "y coordinate", r, np))
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
    Parser ps{{nullptr, nullptr, text, text + len, 1, 1}, err, 1, 1};
    return parse(ps, mesh);
}

bool parse_res(std::FILE *in, Mesh *mesh, ResError *err)
{
    char buf[READ_CHUNK];
    Parser ps{{in, buf, buf, buf, 1, 1}, err, 1, 1};
    bool ok = parse(ps, mesh);
    if (ok || !std::ferror(in))
        return ok;
    ps.line = ps.s.line;
    fail_at(ps, 0, "read error: %s", std::strerror(errno));
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
        if (cd != (iconv_t)-1) {
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
