#include "patch/file_io.h"

#include <cerrno>

#include "platform/file_sys.h"

namespace {

// Why `path` is no regular file to open.
file_cause path_cause(const char *path)
{
    error_clear();
    sys_file_stat st{};
    if (sys_stat_path(path, &st) != 0)
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
    return sys_commit(f);
}

int64_t file_length(std::FILE *f)
{
    sys_file_stat st{};
    if (f == nullptr || sys_stat_file(f, &st) != 0 || !st.regular)
        return -1;
    return st.size;
}

bool is_regular_path(const char *path)
{
    sys_file_stat st{};
    return path != nullptr && sys_stat_path(path, &st) == 0 && st.regular;
}

void error_clear()
{
    errno = 0;
    sys_error_clear();
}

file_cause error_cause()
{
    const int system = sys_error();
    switch (system != 0 ? system : errno) {
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
    return open_regular(path, sys_open_read, cause);
}

std::FILE *open_same_file(const char *path, std::FILE *same_as)
{
    std::FILE *f = sys_open_read(path);
    if (f != nullptr && (file_length(f) < 0 || (same_as != nullptr && !same_file(f, same_as)))) {
        (void)close_file(f);  // opened for reading: nothing to lose
        f = nullptr;
    }
    return f;
}

std::FILE *open_for_update(const char *path, file_cause *cause)
{
    std::FILE *f = open_regular(path, sys_open_update, cause);
    // Each write goes straight to the file, in order: nothing waits in a
    // buffer to fail, or to fail the writes after it.
    if (f != nullptr)
        std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

bool same_file(std::FILE *a, std::FILE *b)
{
    return a != nullptr && b != nullptr && sys_same_file(sys_handle_of(a), sys_handle_of(b));
}
