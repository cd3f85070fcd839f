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
#else
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

// Windows' rename never replaces an existing file.
backup_result name_new(const char *from, const char *to)
{
    if (std::rename(from, to) == 0)
        return BACKUP_MADE;
    return errno == EEXIST || errno == EACCES ? BACKUP_EXISTS : BACKUP_FAILED;
}

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
    default:
        return CAUSE_NONE;
    }
}

std::FILE *open_update(const char *path)
{
    return _fsopen(path, "r+b", _SH_DENYWR);
}

std::FILE *create_new(const char *path)
{
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE *f = _fdopen(fd, "wb");
    if (f == nullptr)
        _close(fd);
    return f;
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

// A second name for the file, never over an existing one; then the
// temporary name goes.
backup_result name_new(const char *from, const char *to)
{
    if (link(from, to) == 0)
        return BACKUP_MADE;
    // Where the file system has no hard links.
    if (errno != EEXIST && renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return BACKUP_MADE;
    return errno == EEXIST ? BACKUP_EXISTS : BACKUP_FAILED;
}

void system_error_clear()
{
}

file_cause system_error_cause()
{
    return errno == ETXTBSY ? CAUSE_IN_USE : CAUSE_NONE;
}

// POSIX has no share modes; the check before writing has to do.
std::FILE *open_update(const char *path)
{
    return std::fopen(path, "rb+");
}

std::FILE *create_new(const char *path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        return nullptr;
    std::FILE *f = fdopen(fd, "wb");
    if (f == nullptr)
        close(fd);
    return f;
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

std::FILE *open_read(const char *path)
{
    return std::fopen(path, "rb");
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

bool copy_stream(std::FILE *from, std::FILE *to)
{
    uint8_t chunk[16384];
    for (;;) {
        std::size_t n = std::fread(chunk, 1, sizeof chunk, from);
        if (n > 0 && std::fwrite(chunk, 1, n, to) != n)
            return false;
        if (n < sizeof chunk)
            return std::ferror(from) == 0;
    }
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

std::FILE *open_for_update(const char *path, file_cause *cause)
{
    std::FILE *f = open_regular(path, open_update, cause);
    // Each write goes straight to the file, in order: nothing waits in a
    // buffer to fail, or to fail the writes after it.
    if (f != nullptr)
        std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

std::FILE *open_null_sink()
{
    return std::fopen(NULL_DEVICE, "w");
}

backup_result backup_file(const char *path)
{
    std::size_t len = std::strlen(path) + sizeof ".bak.partial";
    char *bak = static_cast<char *>(std::malloc(len));
    char *partial = static_cast<char *>(std::malloc(len));
    if (bak == nullptr || partial == nullptr) {
        std::free(bak);
        std::free(partial);
        return BACKUP_FAILED;
    }
    std::snprintf(bak, len, "%s.bak", path);
    std::snprintf(partial, len, "%s.bak.partial", path);

    // The copy is made under another name and takes the backup's name only
    // when whole and on the disk: an interrupted run leaves no FILE.bak,
    // only a partial copy, which is ours and goes at the next run.
    stat_record st;
    const bool exists = stat_path(bak, &st) == 0;
    backup_result result = exists ? BACKUP_EXISTS : BACKUP_FAILED;
    std::remove(partial);
    std::FILE *from = exists ? nullptr : std::fopen(path, "rb");
    std::FILE *to = from != nullptr ? create_new(partial) : nullptr;
    if (to != nullptr) {
        bool copied = copy_stream(from, to) && sync_file(to) == 0;
        copied = close_file(to) == 0 && copied;
        if (copied)
            result = name_new(partial, bak);
        std::remove(partial);
    }
    if (from != nullptr)
        (void)close_file(from);  // opened for reading: nothing to lose
    std::free(bak);
    std::free(partial);
    return result;
}
