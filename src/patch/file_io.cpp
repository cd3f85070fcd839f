#include "patch/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
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
