// The load path: file n of a series named, opened and parsed. Standard C++ and POSIX.
#include "resfile/res_file.h"

#include <cerrno>
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

LoadResult load_res(const char *dir, int n, Mesh *mesh, bool nonfinite)
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
        r.errnum = errno;
        r.status = errno == ENOENT ? LoadStatus::MISSING : LoadStatus::CANNOT_OPEN;
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
    // The parser reads in large chunks of its own, straight from the descriptor.
    bool ok = parse_res_fd(fd, mesh, &r.fault, nonfinite);
    close(fd);
    r.errnum = r.fault.errnum;
    r.status = ok ? LoadStatus::LOADED : r.errnum ? LoadStatus::UNREADABLE : LoadStatus::MALFORMED;
    return r;
}
