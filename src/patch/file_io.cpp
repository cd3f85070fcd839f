#include "patch/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using stat_record = struct _stat64;

int stat_handle(std::FILE *f, stat_record *st)
{
    return _fstat64(_fileno(f), st);
}

int stat_path(const char *path, stat_record *st)
{
    return _stat64(path, st);
}

bool regular(const stat_record &st)
{
    return (st.st_mode & _S_IFMT) == _S_IFREG;
}

const char NULL_DEVICE[] = "NUL";

// msvcrt keeps the Win32 error code of a failed call in _doserrno; it tells
// a sharing violation (the running game holds its exe) from access denied,
// which errno calls both EACCES.
void system_error_clear()
{
    _doserrno = 0;
}

file_cause system_error_cause()
{
    switch (_doserrno) {
    case 32:  // ERROR_SHARING_VIOLATION
    case 33:  // ERROR_LOCK_VIOLATION
        return CAUSE_IN_USE;
    case 5:   // ERROR_ACCESS_DENIED
    case 19:  // ERROR_WRITE_PROTECT
        return CAUSE_DENIED;
    case 2:   // ERROR_FILE_NOT_FOUND
    case 3:   // ERROR_PATH_NOT_FOUND
        return CAUSE_MISSING;
    case 39:  // ERROR_HANDLE_DISK_FULL
    case 112: // ERROR_DISK_FULL
        return CAUSE_DISK_FULL;
    case 206: // ERROR_FILENAME_EXCED_RANGE
        return CAUSE_NAME_TOO_LONG;
    default:
        return CAUSE_NONE;
    }
}

std::FILE *open_read(const char *path)
{
    return std::fopen(path, "rb");
}

std::FILE *open_update(const char *path)
{
    return _fsopen(path, "r+b", _SH_DENYWR);
}

bool same_handle(std::FILE *a, std::FILE *b)
{
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(a))), &x)
           && GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(b))), &y)
           && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh
           && x.nFileIndexLow == y.nFileIndexLow;
}

#else
using stat_record = struct stat;

int stat_handle(std::FILE *f, stat_record *st)
{
    return fstat(fileno(f), st);
}

int stat_path(const char *path, stat_record *st)
{
    return stat(path, st);
}

bool regular(const stat_record &st)
{
    return S_ISREG(st.st_mode);
}

const char NULL_DEVICE[] = "/dev/null";

void system_error_clear()
{
}

file_cause system_error_cause()
{
    return errno == ETXTBSY ? CAUSE_IN_USE : CAUSE_NONE;
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

std::FILE *open_read(const char *path)
{
    return stream_of_fd(open_regular_fd(path, O_RDONLY), "rb");
}

// POSIX has no share modes; an exclusive lock keeps a second copy of the
// patcher out from the check before writing to the last write.
std::FILE *open_update(const char *path)
{
    int fd = open_regular_fd(path, O_RDWR);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        errno = EBUSY;
        return nullptr;
    }
    return stream_of_fd(fd, "rb+");
}

bool same_handle(std::FILE *a, std::FILE *b)
{
    struct stat x{}, y{};
    return fstat(fileno(a), &x) == 0 && fstat(fileno(b), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

#endif

// Why `path` is no regular file to open.
file_cause path_cause(const char *path)
{
    error_clear();
    stat_record st;
    if (stat_path(path, &st) != 0)
        return error_cause();
    return CAUSE_NOT_REGULAR;
}

// Opens only a regular file, checked before opening: opening a FIFO blocks,
// and a device would take the bytes anywhere. `*cause` says why not.
std::FILE *open_regular(const char *path, std::FILE *(*open)(const char *), file_cause *cause)
{
    if (!is_regular_path(path)) {
        *cause = path_cause(path);
        return nullptr;
    }
    error_clear();
    std::FILE *f = open(path);
    *cause = f == nullptr ? error_cause() : CAUSE_NONE;
    return f;
}

} // namespace

int close_file(std::FILE *f)
{
    if (f == nullptr)
        return -1;
    int flushed = std::fflush(f);
    int closed = std::fclose(f);
    return (flushed == 0 && closed == 0) ? 0 : -1;
}

int sync_file(std::FILE *f)
{
    if (std::fflush(f) != 0)
        return -1;
#ifdef _WIN32
    return _commit(_fileno(f)) == 0 ? 0 : -1;
#else
    return fsync(fileno(f)) == 0 ? 0 : -1;
#endif
}

int64_t file_length(std::FILE *f)
{
    stat_record st;
    if (f == nullptr || stat_handle(f, &st) != 0 || !regular(st))
        return -1;
    return st.st_size;
}

bool is_regular_path(const char *path)
{
    stat_record st;
    return path != nullptr && stat_path(path, &st) == 0 && regular(st);
}

void error_clear()
{
    errno = 0;
    system_error_clear();
}

file_cause error_cause()
{
    file_cause c = system_error_cause();
    if (c != CAUSE_NONE)
        return c;
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
        return CAUSE_MISSING;
    case EACCES:
    case EPERM:
    case EROFS:
        return CAUSE_DENIED;
    case EBUSY:
        return CAUSE_IN_USE;
    case ENOSPC:
        return CAUSE_DISK_FULL;
    case ENAMETOOLONG:
        return CAUSE_NAME_TOO_LONG;
    case EISDIR:
        return CAUSE_NOT_REGULAR;
    default:
        return CAUSE_NONE;
    }
}

std::FILE *open_for_read(const char *path, file_cause *cause)
{
    return open_regular(path, open_read, cause);
}

std::FILE *open_same_file(const char *path, std::FILE *same_as)
{
    std::FILE *f = open_read(path);
    if (f != nullptr && (file_length(f) < 0 || (same_as != nullptr && !same_handle(f, same_as)))) {
        (void)close_file(f);  // opened for reading: nothing to lose
        f = nullptr;
    }
    return f;
}

std::FILE *open_for_update(const char *path, file_cause *cause)
{
    std::FILE *f = open_regular(path, open_update, cause);
    // Each write goes straight to the file, in order: nothing waits in a
    // buffer to fail, or to fail the writes after it.
    if (f != nullptr)
        std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

std::FILE *stream_of_fd(int fd, const char *mode)
{
#ifdef _WIN32
    std::FILE *f = fd >= 0 ? _fdopen(fd, mode) : nullptr;
    if (f == nullptr && fd >= 0)
        _close(fd);
#else
    std::FILE *f = fd >= 0 ? fdopen(fd, mode) : nullptr;
    if (f == nullptr && fd >= 0)
        close(fd);
#endif
    return f;
}

bool same_file(std::FILE *a, std::FILE *b)
{
    return a != nullptr && b != nullptr && same_handle(a, b);
}

std::FILE *open_null_sink()
{
    return std::fopen(NULL_DEVICE, "w");
}
