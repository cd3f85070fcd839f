#include "patch/file_length.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>

int64_t file_length(std::FILE *f)
{
    struct _stat64 st;
    if (f == nullptr || _fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return -1;
    return st.st_size;
}

bool is_regular_path(const char *path)
{
    struct _stat64 st;
    return path != nullptr && _stat64(path, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
#else
#include <unistd.h>

int64_t file_length(std::FILE *f)
{
    struct stat st;
    if (f == nullptr || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

bool is_regular_path(const char *path)
{
    struct stat st;
    return path != nullptr && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}
#endif
