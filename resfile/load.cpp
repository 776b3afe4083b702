// The load path: file n of a series named, opened and parsed, and the viewer's one way to fail
// on it. Standard C++ and POSIX.
#include "res_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

LoadResult load_res(const char *dir, int n, Mesh *mesh)
{
    LoadResult r{};
    const char *name = res_file_name(n);
    if (!name) {
        r.status = LoadStatus::NO_NAME;
        return r;
    }
    int len = dir ? std::snprintf(r.path, sizeof r.path, "%s/%s", dir, name)
                  : std::snprintf(r.path, sizeof r.path, "%s", name);
    if (len < 0 || len >= (int)sizeof r.path) {
        r.status = LoadStatus::CANNOT_OPEN;
        r.errnum = ENAMETOOLONG;
        return r;
    }
    std::FILE *in = std::fopen(r.path, "r");
    if (!in) {
        r.status = LoadStatus::CANNOT_OPEN;
        r.errnum = errno;
        return r;
    }
    // The parser reads in large chunks of its own; a stdio buffer would only add a copy.
    std::setvbuf(in, nullptr, _IONBF, 0);
    bool ok = parse_res(in, mesh, &r.fault);
    std::fclose(in);
    r.status = ok ? LoadStatus::LOADED : LoadStatus::MALFORMED;
    return r;
}

Mesh read_res(int n)
{
    static Mesh mesh; // the reader's own record, cleared by every parse
    LoadResult r = load_res(nullptr, n, &mesh);
    if (r.status == LoadStatus::LOADED)
        return mesh;
    if (r.status == LoadStatus::MALFORMED) {
        std::fflush(stdout);
        print_res_error(stderr, r.path, r.fault);
        std::exit(1);
    }
    char msg[128];
    std::size_t len = open_failure_message(msg, sizeof msg);
    std::fwrite(msg, 1, len, stdout);
    std::fflush(stdout);
    if (r.status == LoadStatus::CANNOT_OPEN)
        std::fprintf(stderr, "cannot open %s: %s\n", r.path, std::strerror(r.errnum));
    else
        std::fprintf(stderr, "no result file has index %d: the series runs from 0 to %d\n", n,
                     FILE_INDEX_MAX);
    std::exit(1);
}
