// The viewer's load step and its one message. The message is put in the console's encoding
// through POSIX iconv; the process's own locale is never read or changed.
#include "view/read_res.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <initializer_list>

Mesh read_res(int n)
{
    Mesh mesh; // cleared by the parse
    LoadResult r = load_res(nullptr, n, &mesh);
    if (r.status == LoadStatus::LOADED)
        return mesh;
    std::fflush(stdout);
    if (r.status != LoadStatus::MALFORMED) {
        // Whatever kept the file from being read, the viewer's one message says so.
        char msg[128];
        std::size_t len = open_failure_message(msg, sizeof msg);
        std::fwrite(msg, 1, len, stdout);
        std::fflush(stdout);
    }
    std::fprintf(stderr, "%s\n", load_failure_text(r).c_str());
    const std::string hint = r.status == LoadStatus::MISSING ? naming_hint(nullptr) : "";
    if (!hint.empty())
        std::fprintf(stderr, "resview: %s\n", hint.c_str());
    std::exit(1);
}
namespace
{

// "ファイルがオープンできません\n" in Shift-JIS (code page 932): 29 bytes with the line feed.
const char OPEN_FAILURE_SJIS[] = "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x83\x49\x81\x5b\x83\x76"
                                 "\x83\x93\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\n";
// The same text in UTF-8.
const char OPEN_FAILURE_UTF8[] = "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x81\x8c"
                                 "\xe3\x82\xaa\xe3\x83\xbc\xe3\x83\x97\xe3\x83\xb3\xe3\x81\xa7"
                                 "\xe3\x81\x8d\xe3\x81\xbe\xe3\x81\x9b\xe3\x82\x93\n";

} // namespace

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
