#include "tools/common/temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool all_digits(const std::string &s, std::size_t from, std::size_t to)
{
    if (from >= to)
        return false;
    for (std::size_t i = from; i < to; ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

// Removes dir/name if it is a regular file whose lock nobody holds. The lock is taken before the
// name goes, so a writer that makes the same name at that moment sees it taken and moves on.
bool remove_if_stale(int dir_fd, const std::string &name)
{
    int fd =
        openat(dir_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool removed = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                   flock(fd, LOCK_EX | LOCK_NB) == 0 && unlinkat(dir_fd, name.c_str(), 0) == 0;
    close(fd);
    return removed;
}

} // namespace

std::string temporary_of(const std::string &name)
{
    // ".NAME.PID.K"
    std::size_t k_dot = name.rfind('.');
    if (name.size() < 6 || name[0] != '.' || k_dot == std::string::npos || k_dot == 0)
        return "";
    std::size_t pid_dot = name.rfind('.', k_dot - 1);
    if (pid_dot == std::string::npos || pid_dot < 2 || !all_digits(name, k_dot + 1, name.size()) ||
        !all_digits(name, pid_dot + 1, k_dot))
        return "";
    return name.substr(1, pid_dot - 1);
}

int remove_stale_temporaries(const std::string &dir,
                             const std::function<bool(const std::string &name)> &ours)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return 0;
    int removed = 0;
    while (const dirent *e = readdir(d)) {
        std::string name = e->d_name;
        std::string of = temporary_of(name);
        if (!of.empty() && ours(of))
            removed += remove_if_stale(dirfd(d), name);
    }
    closedir(d);
    return removed;
}
