#include "tools/common/whole_file.h"

#include "resfile/res_file.h"
#include "tools/common/temporaries.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Locks a temporary just made as this process's own. False when a later run's clean-up got to it
// first (it holds the lock, or has removed the name already): the name is then given up. A file
// system without locks leaves it unlocked, and then no clean-up removes it either.
bool lock_new_temporary(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK;
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_nlink > 0;
}

} // namespace

PathParts split_path(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string folder_of(const std::string &path)
{
    return split_path(path).folder;
}

std::string temporary_name(const std::string &path, int k)
{
    const PathParts p = split_path(path);
    const std::string in = path.find('/') == std::string::npos ? ""
                           : p.folder == "/"                   ? "/"
                                                               : p.folder + "/";
    return in + "." + p.name + "." + std::to_string(getpid()) + "." + std::to_string(k);
}

namespace
{

// Makes the folder dir and its parents if they are missing. Another process may make it at the
// same time: what counts is that it is there.
Status make_folder(const std::string &dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const bool there = std::filesystem::is_directory(dir, ec);
    if (there)
        return Status();
    if (!ec)
        ec = std::make_error_code(std::errc::file_exists);
    return Status::error("cannot make " + dir + ": " + ec.message());
}

} // namespace

Status open_output_folder(const std::string &dir, const char *ext)
{
    return open_output_folder(
        dir, [ext](const std::string &name) { return output_index(name, ext) >= 0; });
}

Status open_output_folder(const std::string &dir,
                          const std::function<bool(const std::string &name)> &ours)
{
    Status s = make_folder(dir);
    if (s.ok())
        remove_stale_temporaries(dir, ours);
    return s;
}

Status open_output_file(const std::string &path)
{
    const PathParts p = split_path(path);
    Status s = make_folder(p.folder);
    if (s.ok())
        remove_stale_temporaries(p.folder,
                                 [&p](const std::string &name) { return name == p.name; });
    return s;
}

std::string output_name(int n, const char *ext)
{
    std::string name = res_file_name(n);
    return name.replace(name.size() - 4, 4, ext);
}

int output_index(const std::string &name, const char *ext)
{
    const std::size_t len = std::strlen(ext);
    if (name.size() <= len || name.compare(name.size() - len, len, ext) != 0)
        return -1;
    return res_file_index((name.substr(0, name.size() - len) + ".inp").c_str());
}

WholeFile::~WholeFile()
{
    (void)abandon(); // an owner that must say so abandons it first
}

WholeFile::WholeFile(WholeFile &&other) noexcept
    : path_(std::move(other.path_)), tmp_(std::move(other.tmp_)), fd_(other.fd_),
      failed_(other.failed_), renamed_(other.renamed_), failure_(std::move(other.failure_))
{
    other.tmp_.clear();
    other.fd_ = -1;
}

WholeFile &WholeFile::operator=(WholeFile &&other) noexcept
{
    if (this != &other) {
        (void)abandon();
        path_ = std::move(other.path_);
        tmp_ = std::move(other.tmp_);
        fd_ = other.fd_;
        failed_ = other.failed_;
        renamed_ = other.renamed_;
        failure_ = std::move(other.failure_);
        other.tmp_.clear();
        other.fd_ = -1;
    }
    return *this;
}

Status WholeFile::fail(const char *call)
{
    failure_ = system_error("write", path_, call);
    failed_ = true;
    Status cleanup = abandon();
    if (!cleanup.ok())
        failure_ = Status::error(failure_.message() + "; " + cleanup.message());
    return failure_;
}

Status WholeFile::open(const std::string &path)
{
    (void)abandon();
    path_ = path;
    failed_ = false;
    renamed_ = false;
    // ".NAME.PID.K": the process id keeps concurrent runs apart, K this process's own files. Made
    // with O_EXCL, so a name that exists (another thread's, or another machine's process on a
    // shared folder) is skipped.
    for (int k = 0; k < 1000; ++k) {
        std::string tmp = temporary_name(path, k);
        int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            break;
        if (lock_new_temporary(fd)) {
            fd_ = fd;
            tmp_ = tmp;
            return Status();
        }
        ::close(fd);
    }
    return fail("open");
}

namespace
{

// Writes all n bytes to fd, however many calls it takes; false with errno set when one fails.
bool write_fully(int fd, const void *data, std::size_t n)
{
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
        ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k == 0)
            errno = ENOSPC; // a write that takes nothing and says nothing
        if (k <= 0)
            return false;
        p += k;
        n -= (std::size_t)k;
    }
    return true;
}

} // namespace

Status WholeFile::write(const void *data, std::size_t n)
{
    if (failed_)
        return failure_; // abandoned after an earlier failure
    return write_fully(fd_, data, n) ? Status() : fail("write");
}

Status WholeFile::commit(Durable d)
{
    if (failed_)
        return failure_;
    if (d != Durable::NOT && fsync(fd_) != 0)
        return fail("fsync");
    // Renamed while still open, so that its lock covers it until it has its final name.
    if (rename(tmp_.c_str(), path_.c_str()) != 0)
        return fail("rename");
    tmp_.clear();
    renamed_ = true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return fail("close");
    if (d == Durable::FOLDER_TOO) {
        Status s = sync_dir(folder_of(path_));
        if (!s.ok()) {
            failed_ = true;
            failure_ = s;
            return s;
        }
    }
    return Status();
}

Status WholeFile::abandon()
{
    const int saved = errno;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    Status s;
    if (!tmp_.empty() && unlink(tmp_.c_str()) != 0 && errno != ENOENT)
        s = Status::error("its temporary " + tmp_ + " stays (unlink: " + std::strerror(errno) +
                          "); the next run removes it");
    tmp_.clear();
    errno = saved;
    return s;
}

Status write_whole_file(const std::string &path, const void *data, std::size_t n)
{
    WholeFile f;
    Status s = f.open(path);
    if (s.ok())
        s = f.write(data, n);
    if (s.ok())
        s = f.commit();
    return s;
}

Status system_error(const std::string &verb, const std::string &what, const char *call)
{
    const int err = errno;
    const std::string text =
        "cannot " + verb + " " + what + ": " + call + ": " + std::strerror(err);
    return err == ENOENT ? Status::not_found(text)
           : err == EIO  ? Status::io_error(text)
                         : Status::error(text);
}

Status sync_dir(const std::string &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return system_error("make durable", dir, "open");
    Status s = fsync(fd) == 0 ? Status() : system_error("make durable", dir, "fsync");
    ::close(fd);
    return s;
}

Status write_unnamed_file(const std::string &path, const void *data, std::size_t n)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return system_error("write", path, "open");
    Status s = write_fully(fd, data, n) ? Status() : system_error("write", path, "write");
    if (::close(fd) != 0 && s.ok())
        s = system_error("write", path, "close");
    if (!s.ok() && unlink(path.c_str()) != 0 && errno != ENOENT)
        s = Status::error(s.message() + "; it stays (unlink: " + std::strerror(errno) +
                          "), and the next run removes it");
    return s;
}

Status make_durable(const std::string &dir, const std::vector<std::string> &names)
{
    const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0)
        return system_error("make durable", dir, "open");
    Status s = syncfs(dir_fd) == 0 ? Status() : system_error("make durable", dir, "syncfs");
    for (const auto &name : names) {
        const int fd = s.ok() ? openat(dir_fd, name.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (s.ok() && fd < 0)
            s = system_error("make durable", dir + "/" += name, "open");
        if (s.ok() && fsync(fd) != 0)
            s = system_error("make durable", dir + "/" += name, "fsync");
        if (fd >= 0)
            ::close(fd);
    }
    ::close(dir_fd);
    return s;
}
