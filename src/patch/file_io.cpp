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

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

// Never over an existing file, and the new name is on the disk when the call
// returns. Why it failed is left in _doserrno: a sharing violation (another
// program holds the copy) is no "file exists".
bool name_new(const char *from, const char *to)
{
    if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH))
        return true;
    _doserrno = GetLastError();
    errno = 0;
    return false;
}

// MOVEFILE_WRITE_THROUGH has put the name on the disk already.
bool sync_folder(const char *)
{
    return true;
}

// A folder's read-only attribute does not keep files from being made in it.
bool folder_writable(const char *)
{
    return true;
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

bool same_file(std::FILE *a, std::FILE *b)
{
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(a))), &x)
           && GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(b))), &y)
           && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh
           && x.nFileIndexLow == y.nFileIndexLow;
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

bool is_separator(char c)
{
    return c == '/';
}

// Never over an existing file, in one step: a kill leaves one name or the
// other. Where the file system cannot do that, a second name and then the
// temporary one goes; a kill in between leaves FILE.bak.partial, which the
// next backup removes.
bool name_new(const char *from, const char *to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    return (errno == EINVAL || errno == ENOSYS) && link(from, to) == 0;
}

// A new name is on the disk only once its folder is.
bool sync_folder(const char *dir)
{
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

bool folder_writable(const char *dir)
{
    return access(dir, W_OK) == 0;
}

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

std::FILE *open_fd(int fd, const char *mode)
{
    std::FILE *f = fd >= 0 ? fdopen(fd, mode) : nullptr;
    if (f == nullptr && fd >= 0)
        close(fd);
    return f;
}

std::FILE *open_read(const char *path)
{
    return open_fd(open_regular_fd(path, O_RDONLY), "rb");
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
    return open_fd(fd, "rb+");
}

bool same_file(std::FILE *a, std::FILE *b)
{
    struct stat x{}, y{};
    return fstat(fileno(a), &x) == 0 && fstat(fileno(b), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

std::FILE *create_new(const char *path)
{
    return open_fd(open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666), "wb");
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

// The names a backup of a file goes by, and the folder they are in.
struct backup_names {
    char *bak;
    char *partial;
    char *folder;
};

void free_names(backup_names *n)
{
    std::free(n->bak);
    std::free(n->partial);
    std::free(n->folder);
}

bool make_names(const char *path, backup_names *n)
{
    std::size_t len = std::strlen(path) + sizeof ".bak.partial";
    n->bak = static_cast<char *>(std::malloc(len));
    n->partial = static_cast<char *>(std::malloc(len));
    n->folder = static_cast<char *>(std::malloc(len));
    if (n->bak == nullptr || n->partial == nullptr || n->folder == nullptr) {
        free_names(n);
        return false;
    }
    std::snprintf(n->bak, len, "%s.bak", path);
    std::snprintf(n->partial, len, "%s.bak.partial", path);
    std::size_t cut = std::strlen(path);
    while (cut > 0 && !is_separator(path[cut - 1]))
        --cut;
    if (cut == 0)
        std::snprintf(n->folder, len, ".");
    else
        std::snprintf(n->folder, len, "%.*s", static_cast<int>(cut > 1 ? cut - 1 : cut), path);
    return true;
}

// The last failed call's cause, in the words of a backup: a denied create is
// the folder's, a held file the copy's.
file_cause backup_cause()
{
    file_cause c = error_cause();
    return c == CAUSE_DENIED ? CAUSE_FOLDER_DENIED : c == CAUSE_IN_USE ? CAUSE_BACKUP_HELD : c;
}

// What has the backup's name, if anything: only a regular file is a backup.
backup_result existing_backup(const backup_names &n, file_cause *cause)
{
    stat_record st;
    error_clear();
    if (stat_path(n.bak, &st) == 0) {
        *cause = regular(st) ? CAUSE_NONE : CAUSE_BACKUP_NOT_REGULAR;
        return regular(st) ? BACKUP_EXISTS : BACKUP_FAILED;
    }
    *cause = errno == ENOENT ? CAUSE_NONE : backup_cause();
    return errno == ENOENT ? BACKUP_MADE : BACKUP_FAILED;
}

// The whole copy takes the backup's name and that name goes on the disk. A
// failed rename may be someone else's hold on the copy (a virus scanner):
// only a regular file found under the name means that the backup exists.
backup_result name_backup(const backup_names &n, file_cause *cause)
{
    error_clear();
    if (name_new(n.partial, n.bak)) {
        if (sync_folder(n.folder))
            return BACKUP_MADE;
        *cause = backup_cause();
        return BACKUP_FAILED;
    }
    file_cause why = backup_cause();
    backup_result there = existing_backup(n, cause);
    if (there == BACKUP_MADE) {
        *cause = why;
        return BACKUP_FAILED;
    }
    return there;
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
    if (f != nullptr && (file_length(f) < 0 || (same_as != nullptr && !same_file(f, same_as)))) {
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

std::FILE *open_null_sink()
{
    return std::fopen(NULL_DEVICE, "w");
}

backup_result backup_check(const char *path, file_cause *cause)
{
    *cause = CAUSE_NONE;
    backup_names n{};
    if (!make_names(path, &n))
        return BACKUP_FAILED;
    backup_result result = existing_backup(n, cause);
    stat_record st;
    error_clear();
    // The copy's name must fit the folder, and the folder take new files.
    if (result == BACKUP_MADE && ((stat_path(n.partial, &st) != 0 && errno != ENOENT) || !folder_writable(n.folder))) {
        *cause = backup_cause();
        result = BACKUP_FAILED;
    }
    free_names(&n);
    return result;
}

backup_result backup_file(const char *path, file_cause *cause)
{
    *cause = CAUSE_NONE;
    backup_names n{};
    if (!make_names(path, &n))
        return BACKUP_FAILED;
    // The copy is made under another name and takes the backup's name only
    // when whole and on the disk: an interrupted run leaves no FILE.bak,
    // only a partial copy, which is ours and goes at the next run.
    backup_result result = existing_backup(n, cause);
    if (result == BACKUP_MADE) {
        result = BACKUP_FAILED;
        std::remove(n.partial);
        error_clear();
        std::FILE *from = std::fopen(path, "rb");
        std::FILE *to = from != nullptr ? create_new(n.partial) : nullptr;
        bool copied = to != nullptr && copy_stream(from, to) && sync_file(to) == 0;
        copied = (to == nullptr || close_file(to) == 0) && copied;
        if (copied)
            result = name_backup(n, cause);
        else
            *cause = backup_cause();
        if (to != nullptr)
            std::remove(n.partial);
        if (from != nullptr)
            (void)close_file(from);  // opened for reading: nothing to lose
    }
    free_names(&n);
    return result;
}
