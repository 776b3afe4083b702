#include "whole_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

bool fail(WholeFile *f, const std::string &what, std::string *why)
{
    *why = what + ": " + std::strerror(errno);
    whole_abandon(f);
    return false;
}

} // namespace

std::string folder_of(const std::string &path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool whole_open(WholeFile *f, const std::string &path, std::string *why)
{
    // ".NAME.PID.K": the process id keeps concurrent runs apart, K this process's own files. Made
    // with O_EXCL, so a name that exists (another machine's process on a shared folder) is skipped.
    static std::atomic<unsigned> made{0};
    f->path = path;
    std::size_t slash = path.rfind('/');
    std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    std::string stem =
        path.substr(0, base) + "." + path.substr(base) + "." + std::to_string(getpid()) + ".";
    for (int tries = 0; tries < 100; ++tries) {
        std::string tmp = stem + std::to_string(made++);
        f->fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (f->fd >= 0) {
            f->tmp = tmp;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    *why = "cannot write " + path + ": " + std::strerror(errno);
    return false;
}

bool whole_write(WholeFile *f, const void *data, std::size_t n, std::string *why)
{
    if (f->fd < 0)
        return false; // abandoned after an earlier failure, which why already gives
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
        ssize_t k = write(f->fd, p, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return fail(f, "cannot write " + f->path, why);
        p += k;
        n -= (std::size_t)k;
    }
    return true;
}

bool whole_close(WholeFile *f, bool sync, std::string *why)
{
    if (sync && fsync(f->fd) != 0)
        return fail(f, "cannot write " + f->path, why);
    int fd = f->fd;
    f->fd = -1;
    if (close(fd) != 0)
        return fail(f, "cannot write " + f->path, why);
    return true;
}

bool whole_rename(WholeFile *f, std::string *why)
{
    if (rename(f->tmp.c_str(), f->path.c_str()) != 0)
        return fail(f, "cannot write " + f->path, why);
    f->tmp.clear();
    return true;
}

void whole_abandon(WholeFile *f)
{
    int saved = errno;
    if (f->fd >= 0)
        close(f->fd);
    f->fd = -1;
    if (!f->tmp.empty())
        unlink(f->tmp.c_str());
    f->tmp.clear();
    errno = saved;
}

bool write_whole_file(const std::string &path, const void *data, std::size_t n, std::string *why)
{
    WholeFile f;
    return whole_open(&f, path, why) && whole_write(&f, data, n, why) &&
           whole_close(&f, true, why) && whole_rename(&f, why);
}

namespace
{

bool sync_fd_of(const std::string &name, bool whole_fs, std::string *why)
{
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && (whole_fs ? syncfs(fd) : fsync(fd)) == 0;
    if (!ok)
        *why = "cannot make " + name + " durable: " + std::strerror(errno);
    if (fd >= 0)
        close(fd);
    return ok;
}

} // namespace

bool sync_file_system(const std::string &path, std::string *why)
{
    return sync_fd_of(path, true, why);
}

bool sync_dir(const std::string &dir, std::string *why)
{
    return sync_fd_of(dir, false, why);
}
