/* A preload that makes one I/O call of a program fail, as a disk or a file system would, for the
 * fault test. It wraps the calls the programs make on their inputs and outputs, and counts and
 * fails only those on paths below FAULT_DIR (and on the descriptors and folders opened there), so
 * that the libraries' own files (Mesa's, say) are left alone and the counts repeat from run to run.
 *
 *   FAULT_DIR=/abs/dir     the calls that count: on paths below it
 *   FAULT_CALL=write       the kind of call to fail: open read write close fsync fdatasync rename
 *                          unlink mkdir stat flock syncfs opendir readdir
 *   FAULT_N=3              ... its Nth call below FAULT_DIR (1-based)
 *   FAULT_SHORT=1          instead of failing that write, write half of it and say so
 *   FAULT_ERRNO=5          the errno of the failure (default EIO; ENOSPC for write)
 *   FAULT_RANDOM=0.05      instead: each call of any kind fails with this probability,
 *   FAULT_SEED=7           drawn from this seed
 *   FAULT_COUNTS=/file     at exit, how many calls of each kind were made below FAULT_DIR
 *
 * A close that fails has closed the descriptor, as Linux's does. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

enum kind {
    OPEN, READ, WRITE, CLOSE, FSYNC, FDATASYNC, RENAME, UNLINK, MKDIR, STAT, FLOCK, SYNCFS,
    OPENDIR, READDIR, KINDS
};
static const char *const KIND_NAME[KINDS] = {"open",   "read",  "write",  "close",   "fsync",
                                             "fdatasync", "rename", "unlink", "mkdir", "stat",
                                             "flock",  "syncfs", "opendir", "readdir"};

#define FDS 4096
#define DIRS 64

static pthread_once_t once = PTHREAD_ONCE_INIT;
static char dir[PATH_MAX];
static size_t dir_len;
static int target = -1;
static long target_n;
static int short_write;
static int fault_errno = EIO;
static double probability;
static unsigned seed;
static pthread_mutex_t seed_lock = PTHREAD_MUTEX_INITIALIZER;
static atomic_long counts[KINDS];
static atomic_uchar scoped_fd[FDS];
static DIR *_Atomic scoped_dirs[DIRS];

static void set_up(void)
{
    const char *d = getenv("FAULT_DIR");
    if (d && realpath(d, dir))
        dir_len = strlen(dir);
    const char *call = getenv("FAULT_CALL");
    for (int k = 0; call && k < KINDS; ++k)
        if (strcmp(call, KIND_NAME[k]) == 0)
            target = k;
    target_n = getenv("FAULT_N") ? atol(getenv("FAULT_N")) : 0;
    short_write = getenv("FAULT_SHORT") && atoi(getenv("FAULT_SHORT"));
    fault_errno = getenv("FAULT_ERRNO") ? atoi(getenv("FAULT_ERRNO"))
                  : target == WRITE    ? ENOSPC
                                       : EIO;
    probability = getenv("FAULT_RANDOM") ? atof(getenv("FAULT_RANDOM")) : 0;
    seed = getenv("FAULT_SEED") ? (unsigned)atol(getenv("FAULT_SEED")) : 1;
}

/* The next definition of a function: the C library's, or the sanitizer's wrapper of it. */
typedef void (*any_function)(void);
static any_function next_function(const char *name)
{
    void *p = dlsym(RTLD_NEXT, name);
    any_function f;
    memcpy(&f, &p, sizeof f);
    return f;
}
#define REAL(name) ((__typeof__(&name))next_function(#name))

/* Whether path lies below FAULT_DIR, taken from the working folder when it is relative. */
static int scoped_path(int dirfd, const char *path)
{
    pthread_once(&once, set_up);
    if (dir_len == 0 || !path)
        return 0;
    char full[PATH_MAX * 2];
    if (path[0] == '/') {
        snprintf(full, sizeof full, "%s", path);
    } else if (dirfd != AT_FDCWD) {
        return dirfd >= 0 && dirfd < FDS && scoped_fd[dirfd];
    } else {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd))
            return 0;
        snprintf(full, sizeof full, "%s/%s", cwd, path);
    }
    return strncmp(full, dir, dir_len) == 0 && (full[dir_len] == '/' || full[dir_len] == '\0');
}

static int scoped(int fd)
{
    pthread_once(&once, set_up);
    return fd >= 0 && fd < FDS && scoped_fd[fd];
}

static void note_fd(int fd, int in_scope)
{
    if (fd >= 0 && fd < FDS)
        scoped_fd[fd] = (unsigned char)in_scope;
}

/* Counts a call of kind k below FAULT_DIR; true when it is to fail. */
static int fails(enum kind k)
{
    long n = atomic_fetch_add(&counts[k], 1) + 1;
    if (probability > 0) {
        pthread_mutex_lock(&seed_lock);
        int r = rand_r(&seed);
        pthread_mutex_unlock(&seed_lock);
        return (double)r / RAND_MAX < probability;
    }
    return (int)k == target && n == target_n;
}

static int fail_with(void)
{
    errno = fault_errno;
    return -1;
}

__attribute__((destructor)) static void write_counts(void)
{
    const char *to = getenv("FAULT_COUNTS");
    if (!to)
        return;
    int fd = REAL(open)(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    char line[64];
    for (int k = 0; k < KINDS; ++k) {
        int len = snprintf(line, sizeof line, "%s %ld\n", KIND_NAME[k], atomic_load(&counts[k]));
        if (REAL(write)(fd, line, (size_t)len) != len)
            break;
    }
    REAL(close)(fd);
}

/* Opening. */
static int opened(int dirfd, const char *path, int flags, mode_t mode,
                  int (*real)(int, const char *, int, ...))
{
    int in_scope = scoped_path(dirfd, path);
    if (in_scope && fails(OPEN))
        return fail_with();
    int fd = real(dirfd, path, flags, mode);
    note_fd(fd, in_scope);
    return fd;
}

static int open_at_cwd(int dirfd, const char *path, int flags, ...)
{
    (void)dirfd;
    va_list ap;
    va_start(ap, flags);
    mode_t mode = (mode_t)va_arg(ap, int);
    va_end(ap);
    return REAL(open)(path, flags, mode);
}

int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = (mode_t)va_arg(ap, int);
        va_end(ap);
    }
    return opened(AT_FDCWD, path, flags, mode, open_at_cwd);
}

int open64(const char *path, int flags, ...) __attribute__((alias("open")));

int openat(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = (mode_t)va_arg(ap, int);
        va_end(ap);
    }
    return opened(dirfd, path, flags, mode, REAL(openat));
}

int openat64(int dirfd, const char *path, int flags, ...) __attribute__((alias("openat")));

FILE *fopen(const char *path, const char *mode)
{
    int in_scope = scoped_path(AT_FDCWD, path);
    if (in_scope && fails(OPEN)) {
        errno = fault_errno;
        return NULL;
    }
    FILE *f = REAL(fopen)(path, mode);
    if (f)
        note_fd(fileno(f), in_scope);
    return f;
}

FILE *fopen64(const char *path, const char *mode) __attribute__((alias("fopen")));

/* Reading and writing. */
ssize_t read(int fd, void *buf, size_t n)
{
    if (scoped(fd) && fails(READ))
        return fail_with();
    return REAL(read)(fd, buf, n);
}

ssize_t write(int fd, const void *buf, size_t n)
{
    if (scoped(fd) && fails(WRITE)) {
        if (short_write && n > 1)
            return REAL(write)(fd, buf, n / 2);
        return fail_with();
    }
    return REAL(write)(fd, buf, n);
}

int close(int fd)
{
    int in_scope = scoped(fd);
    int fault = in_scope && fails(CLOSE);
    note_fd(fd, 0);
    int r = REAL(close)(fd);
    return fault ? fail_with() : r;
}

int fsync(int fd)
{
    if (scoped(fd) && fails(FSYNC))
        return fail_with();
    return REAL(fsync)(fd);
}

int fdatasync(int fd)
{
    if (scoped(fd) && fails(FDATASYNC))
        return fail_with();
    return REAL(fdatasync)(fd);
}

int syncfs(int fd)
{
    if (scoped(fd) && fails(SYNCFS))
        return fail_with();
    return REAL(syncfs)(fd);
}

int flock(int fd, int op)
{
    if (scoped(fd) && fails(FLOCK))
        return fail_with();
    return REAL(flock)(fd, op);
}

/* Names. */
int rename(const char *from, const char *to)
{
    if ((scoped_path(AT_FDCWD, from) || scoped_path(AT_FDCWD, to)) && fails(RENAME))
        return fail_with();
    return REAL(rename)(from, to);
}

int renameat(int fromfd, const char *from, int tofd, const char *to)
{
    if ((scoped_path(fromfd, from) || scoped_path(tofd, to)) && fails(RENAME))
        return fail_with();
    return REAL(renameat)(fromfd, from, tofd, to);
}

int renameat2(int fromfd, const char *from, int tofd, const char *to, unsigned flags)
{
    if ((scoped_path(fromfd, from) || scoped_path(tofd, to)) && fails(RENAME))
        return fail_with();
    return REAL(renameat2)(fromfd, from, tofd, to, flags);
}

int unlink(const char *path)
{
    if (scoped_path(AT_FDCWD, path) && fails(UNLINK))
        return fail_with();
    return REAL(unlink)(path);
}

int unlinkat(int dirfd, const char *path, int flags)
{
    if (scoped_path(dirfd, path) && fails(UNLINK))
        return fail_with();
    return REAL(unlinkat)(dirfd, path, flags);
}

int mkdir(const char *path, mode_t mode)
{
    if (scoped_path(AT_FDCWD, path) && fails(MKDIR))
        return fail_with();
    return REAL(mkdir)(path, mode);
}

int mkdirat(int dirfd, const char *path, mode_t mode)
{
    if (scoped_path(dirfd, path) && fails(MKDIR))
        return fail_with();
    return REAL(mkdirat)(dirfd, path, mode);
}

/* Looking at files. */
int stat(const char *path, struct stat *st)
{
    if (scoped_path(AT_FDCWD, path) && fails(STAT))
        return fail_with();
    return REAL(stat)(path, st);
}

int stat64(const char *path, struct stat64 *st)
{
    if (scoped_path(AT_FDCWD, path) && fails(STAT))
        return fail_with();
    return REAL(stat64)(path, st);
}

int lstat(const char *path, struct stat *st)
{
    if (scoped_path(AT_FDCWD, path) && fails(STAT))
        return fail_with();
    return REAL(lstat)(path, st);
}

int lstat64(const char *path, struct stat64 *st)
{
    if (scoped_path(AT_FDCWD, path) && fails(STAT))
        return fail_with();
    return REAL(lstat64)(path, st);
}

int fstat(int fd, struct stat *st)
{
    if (scoped(fd) && fails(STAT))
        return fail_with();
    return REAL(fstat)(fd, st);
}

int fstat64(int fd, struct stat64 *st)
{
    if (scoped(fd) && fails(STAT))
        return fail_with();
    return REAL(fstat64)(fd, st);
}

int fstatat(int dirfd, const char *path, struct stat *st, int flags)
{
    if (scoped_path(dirfd, path) && fails(STAT))
        return fail_with();
    return REAL(fstatat)(dirfd, path, st, flags);
}

int fstatat64(int dirfd, const char *path, struct stat64 *st, int flags)
{
    if (scoped_path(dirfd, path) && fails(STAT))
        return fail_with();
    return REAL(fstatat64)(dirfd, path, st, flags);
}

int statx(int dirfd, const char *path, int flags, unsigned mask, struct statx *st)
{
    if (scoped_path(dirfd, path) && fails(STAT))
        return fail_with();
    return REAL(statx)(dirfd, path, flags, mask, st);
}

/* Folders. */
static int scoped_dir(DIR *d)
{
    for (int i = 0; d && i < DIRS; ++i)
        if (scoped_dirs[i] == d)
            return 1;
    return 0;
}

DIR *opendir(const char *path)
{
    int in_scope = scoped_path(AT_FDCWD, path);
    if (in_scope && fails(OPENDIR)) {
        errno = fault_errno;
        return NULL;
    }
    DIR *d = REAL(opendir)(path);
    for (int i = 0; d && in_scope && i < DIRS; ++i) {
        DIR *none = NULL;
        if (atomic_compare_exchange_strong(&scoped_dirs[i], &none, d))
            break;
    }
    if (d)
        note_fd(dirfd(d), in_scope);
    return d;
}

int closedir(DIR *d)
{
    for (int i = 0; i < DIRS; ++i) {
        DIR *was = d;
        atomic_compare_exchange_strong(&scoped_dirs[i], &was, NULL);
    }
    note_fd(dirfd(d), 0);
    return REAL(closedir)(d);
}

struct dirent *readdir(DIR *d)
{
    if (scoped_dir(d) && fails(READDIR)) {
        errno = fault_errno;
        return NULL;
    }
    return REAL(readdir)(d);
}

struct dirent64 *readdir64(DIR *d)
{
    if (scoped_dir(d) && fails(READDIR)) {
        errno = fault_errno;
        return NULL;
    }
    return REAL(readdir64)(d);
}
