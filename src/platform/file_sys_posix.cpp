#include "platform/file_sys.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

void status_of(const struct stat &st, sys_file_stat *out)
{
    out->regular = S_ISREG(st.st_mode);
    out->size = st.st_size;
}

// A stream over a descriptor, which is closed when no stream can be made;
// null for a descriptor below 0.
std::FILE *stream_of_fd(int fd, const char *mode)
{
    std::FILE *f = fd >= 0 ? fdopen(fd, mode) : nullptr;
    if (f == nullptr && fd >= 0)
        close(fd);
    return f;
}

// Opened without blocking (a FIFO would wait for a writer), and kept only
// when it is a regular file; errno says why not.
int open_regular_fd(const char *path, int flags)
{
    int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st{};
    const bool seen = fstat(fd, &st) == 0;
    if (!seen || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        const int e = seen && !S_ISREG(st.st_mode) ? EISDIR : errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

bool same_inode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// By sys_open_for.
constexpr int OPEN_FLAGS[] = {
    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
};

} // namespace

void sys_error_clear()
{
}

int sys_error()
{
    return errno == ETXTBSY ? EBUSY : 0;
}

int sys_stat_path(const char *path, sys_file_stat *out)
{
    struct stat st{};
    if (stat(path, &st) != 0)
        return -1;
    status_of(st, out);
    return 0;
}

int sys_stat_file(std::FILE *f, sys_file_stat *out)
{
    struct stat st{};
    if (fstat(fileno(f), &st) != 0)
        return -1;
    status_of(st, out);
    return 0;
}

std::FILE *sys_open_read(const char *path)
{
    return stream_of_fd(open_regular_fd(path, O_RDONLY), "rb");
}

// POSIX has no share modes; an exclusive lock keeps a second copy of the
// patcher out from the check before writing to the last write.
std::FILE *sys_open_update(const char *path)
{
    int fd = open_regular_fd(path, O_RDWR);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        errno = EBUSY;
        return nullptr;
    }
    return stream_of_fd(fd, "rb+");
}

int sys_commit(std::FILE *f)
{
    return fsync(fileno(f)) == 0 ? 0 : -1;
}

sys_handle sys_handle_of(std::FILE *f)
{
    return fileno(f);
}

bool sys_same_file(sys_handle a, sys_handle b)
{
    struct stat x{}, y{};
    return fstat(static_cast<int>(a), &x) == 0 && fstat(static_cast<int>(b), &y) == 0 && same_inode(x, y);
}

bool sys_path_separator(char c)
{
    return c == '/';
}

bool sys_drive_folder(const char *, std::size_t)
{
    return false;
}

bool sys_folder_hold(const char *path, sys_handle *dir)
{
    *dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return *dir >= 0;
}

void sys_folder_release(sys_handle dir)
{
    if (dir > 0)
        close(static_cast<int>(dir));
}

sys_opened sys_open_in(sys_handle dir, const char *name, sys_open_for how, sys_handle *h)
{
    // The mode counts only where the flags create.
    *h = name != nullptr ? openat(static_cast<int>(dir), name, OPEN_FLAGS[how], 0666) : -1;
    return *h >= 0 ? SYS_OPENED : errno == ENOENT ? SYS_NO_NAME : errno == ELOOP ? SYS_NOT_PLAIN : SYS_FAILED;
}

bool sys_plain(sys_handle h, unsigned *links)
{
    struct stat st{};
    const bool plain = fstat(static_cast<int>(h), &st) == 0 && S_ISREG(st.st_mode);
    *links = static_cast<unsigned>(st.st_nlink);
    return plain;
}

bool sys_blocking(sys_handle h)
{
    return fcntl(static_cast<int>(h), F_SETFL, 0) == 0;
}

std::FILE *sys_stream(sys_handle h, sys_open_for how)
{
    return stream_of_fd(static_cast<int>(h), how == SYS_FOR_READ ? "rb" : "wb");
}

void sys_close(sys_handle h)
{
    close(static_cast<int>(h));
}

bool sys_names(sys_handle dir, const char *name, sys_handle h)
{
    struct stat a{}, b{};
    return name != nullptr && fstatat(static_cast<int>(dir), name, &a, AT_SYMLINK_NOFOLLOW) == 0
           && fstat(static_cast<int>(h), &b) == 0 && same_inode(a, b);
}

bool sys_remove(sys_handle dir, const char *name, sys_handle h)
{
    return sys_names(dir, name, h) && unlinkat(static_cast<int>(dir), name, 0) == 0;
}

bool sys_rename(sys_handle dir, std::FILE *made, const char *from, const char *to)
{
    const int d = static_cast<int>(dir);
    bool named = to != nullptr && sys_names(dir, from, fileno(made));
    if (named && renameat2(d, from, d, to, RENAME_NOREPLACE) != 0) {
        // Where the file system cannot refuse to replace, a second name that
        // never replaces, then the first goes; a cut in between leaves a
        // second name that the next run removes.
        named = (errno == EINVAL || errno == ENOSYS) && linkat(d, from, d, to, 0) == 0;
        if (named)
            (void)unlinkat(d, from, 0);  // left behind at worst, and removed by the next run
    }
    return named && sys_names(dir, to, fileno(made));
}

bool sys_folder_sync(sys_handle dir)
{
    // A new name is on the disk only once its folder is.
    return fsync(static_cast<int>(dir)) == 0;
}
