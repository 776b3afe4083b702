// The load path: file n of a series named, opened and parsed, and the viewer's one way to fail
// on it. Standard C++ and POSIX.
#include "res_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const char *file_kind(mode_t mode)
{
    return S_ISDIR(mode)    ? "a directory"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISSOCK(mode) ? "a socket"
           : S_ISCHR(mode)  ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
                            : "not a regular file";
}

} // namespace

LoadResult load_res(const char *dir, int n, Mesh *mesh)
{
    LoadResult r{};
    r.index = n;
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
    // Looked at before it is opened, so that a device is never opened (nor a FIFO, whose open
    // would wait for a writer), and again once open, in case the name was replaced in between.
    struct stat st;
    if (stat(r.path, &st) != 0) {
        r.status = LoadStatus::CANNOT_OPEN;
        r.errnum = errno;
        return r;
    }
    int fd = -1;
    if (S_ISREG(st.st_mode)) {
        fd = open(r.path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 || fstat(fd, &st) != 0) {
            r.status = LoadStatus::CANNOT_OPEN;
            r.errnum = errno;
            if (fd >= 0)
                close(fd);
            return r;
        }
    }
    if (!S_ISREG(st.st_mode)) {
        r.status = LoadStatus::NOT_REGULAR;
        r.kind = file_kind(st.st_mode);
        if (fd >= 0)
            close(fd);
        return r;
    }
    std::FILE *in = fdopen(fd, "r");
    if (!in) {
        r.status = LoadStatus::CANNOT_OPEN;
        r.errnum = errno;
        close(fd);
        return r;
    }
    // The parser reads in large chunks of its own; a stdio buffer would only add a copy.
    std::setvbuf(in, nullptr, _IONBF, 0);
    bool ok = parse_res(in, mesh, &r.fault);
    std::fclose(in);
    r.status = ok ? LoadStatus::LOADED : LoadStatus::MALFORMED;
    return r;
}

void print_load_failure(std::FILE *to, const LoadResult &r)
{
    switch (r.status) {
    case LoadStatus::LOADED: break;
    case LoadStatus::NO_NAME:
        std::fprintf(to, "no result file has index %d: the series runs from 0 to %d\n", r.index,
                     FILE_INDEX_MAX);
        break;
    case LoadStatus::CANNOT_OPEN:
        std::fprintf(to, "cannot open %s: %s\n", r.path, std::strerror(r.errnum));
        break;
    case LoadStatus::NOT_REGULAR:
        std::fprintf(to, "cannot open %s: it is %s, not a regular file\n", r.path, r.kind);
        break;
    case LoadStatus::MALFORMED: print_res_error(to, r.path, r.fault); break;
    }
}

Mesh read_res(int n)
{
    static Mesh mesh; // the reader's own record, cleared by every parse
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
    print_load_failure(stderr, r);
    std::exit(1);
}
