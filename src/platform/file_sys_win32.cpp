#include "platform/file_sys.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
#include <winternl.h>

#include <cerrno>

namespace {

using nt_create_file_fn = NTSTATUS(NTAPI *)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                            PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using nt_set_information_file_fn = NTSTATUS(NTAPI *)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
using rtl_nt_status_to_dos_error_fn = ULONG(NTAPI *)(NTSTATUS);

// Names relative to a folder handle exist only below Win32, in ntdll, which
// every process has loaded from the start: looked up, never imported.
template <typename F> F ntdll(const char *name)
{
    HMODULE m = GetModuleHandleW(L"ntdll.dll");
    FARPROC proc = m != nullptr ? GetProcAddress(m, name) : nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

constexpr NTSTATUS NAME_NOT_FOUND = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS PATH_NOT_FOUND = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS NAME_COLLISION = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS SHARING_VIOLATION = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS IS_A_DIRECTORY = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS NO_NTDLL = static_cast<NTSTATUS>(0xC0000002);  // STATUS_NOT_IMPLEMENTED
constexpr ULONG LINK_NOT_FOLLOWED = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT;
constexpr ULONG SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How NtCreateFile opens a name for each sys_open_for, and the stream's.
struct nt_open {
    ACCESS_MASK access;
    ULONG share, disposition, options;
    int flags;
    const char *mode;
};

constexpr nt_open NT_OPEN[] = {
    {GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, LINK_NOT_FOLLOWED, _O_RDONLY, "rb"},
    {DELETE | FILE_READ_ATTRIBUTES, 0, FILE_OPEN, LINK_NOT_FOLLOWED | FILE_NON_DIRECTORY_FILE, 0, nullptr},
    {GENERIC_WRITE | DELETE, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH, _O_WRONLY, "wb"},
};

// Only looked at, by sys_names.
constexpr nt_open NT_LOOK = {FILE_READ_ATTRIBUTES, SHARE_ALL, FILE_OPEN, LINK_NOT_FOLLOWED, 0, nullptr};

// Leaves the Win32 error of a failed call in _doserrno, where sys_error
// reads it.
NTSTATUS failed(NTSTATUS status)
{
    auto to_dos = ntdll<rtl_nt_status_to_dos_error_fn>("RtlNtStatusToDosError");
    _doserrno = to_dos != nullptr ? to_dos(status) : ERROR_INVALID_FUNCTION;
    errno = 0;
    return status;
}

constexpr int NAME_CAP = 1024;

// A name in UTF-16; false when it does not fit.
bool wide_name(const char *narrow, wchar_t *out, int cap, ULONG *bytes)
{
    int n = narrow != nullptr ? MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, -1, out, cap) : 0;
    *bytes = n > 0 ? static_cast<ULONG>((n - 1) * sizeof(wchar_t)) : 0;
    return n > 0;
}

HANDLE handle(sys_handle h)
{
    return reinterpret_cast<HANDLE>(h);
}

// Opens `name` in the held folder, never by a path.
NTSTATUS open_in(sys_handle dir, const char *name, const nt_open &how, HANDLE *h)
{
    *h = INVALID_HANDLE_VALUE;
    wchar_t wide[NAME_CAP];
    ULONG bytes = 0;
    auto create = ntdll<nt_create_file_fn>("NtCreateFile");
    if (create == nullptr)
        return failed(NO_NTDLL);
    if (!wide_name(name, wide, NAME_CAP, &bytes))
        return failed(PATH_NOT_FOUND);
    UNICODE_STRING us{static_cast<USHORT>(bytes), static_cast<USHORT>(bytes), wide};
    OBJECT_ATTRIBUTES oa{};
    InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, handle(dir), nullptr);
    IO_STATUS_BLOCK io{};
    NTSTATUS status = create(h, how.access | SYNCHRONIZE, &oa, &io, nullptr, FILE_ATTRIBUTE_NORMAL, how.share,
                             how.disposition, how.options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) {
        *h = INVALID_HANDLE_VALUE;
        return failed(status);
    }
    return status;
}

NTSTATUS set_info(HANDLE h, void *info, ULONG len, FILE_INFORMATION_CLASS what)
{
    auto set = ntdll<nt_set_information_file_fn>("NtSetInformationFile");
    IO_STATUS_BLOCK io{};
    NTSTATUS status = set != nullptr ? set(h, &io, info, len, what) : NO_NTDLL;
    return status < 0 ? failed(status) : status;
}

// A stream over a descriptor, which is closed when no stream can be made;
// null for a descriptor below 0.
std::FILE *stream_of_fd(int fd, const char *mode)
{
    std::FILE *f = fd >= 0 ? _fdopen(fd, mode) : nullptr;
    if (f == nullptr && fd >= 0)
        _close(fd);
    return f;
}

} // namespace

// msvcrt keeps the Win32 error code of a failed call in _doserrno; it tells
// a sharing violation (the running game holds its exe) from access denied,
// which errno calls both EACCES.
void sys_error_clear()
{
    _doserrno = 0;
}

int sys_error()
{
    switch (_doserrno) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return 0;
    }
}

int sys_stat_path(const char *path, sys_file_stat *out)
{
    struct _stat64 st{};
    if (_stat64(path, &st) != 0)
        return -1;
    *out = {(st.st_mode & _S_IFMT) == _S_IFREG, st.st_size};
    return 0;
}

int sys_stat_file(std::FILE *f, sys_file_stat *out)
{
    struct _stat64 st{};
    if (_fstat64(_fileno(f), &st) != 0)
        return -1;
    *out = {(st.st_mode & _S_IFMT) == _S_IFREG, st.st_size};
    return 0;
}

std::FILE *sys_open_read(const char *path)
{
    return std::fopen(path, "rb");
}

std::FILE *sys_open_update(const char *path)
{
    return _fsopen(path, "r+b", _SH_DENYWR);
}

int sys_commit(std::FILE *f)
{
    return _commit(_fileno(f)) == 0 ? 0 : -1;
}

sys_handle sys_handle_of(std::FILE *f)
{
    return _get_osfhandle(_fileno(f));
}

bool sys_same_file(sys_handle a, sys_handle b)
{
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return GetFileInformationByHandle(handle(a), &x) && GetFileInformationByHandle(handle(b), &y)
           && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh
           && x.nFileIndexLow == y.nFileIndexLow;
}

bool sys_path_separator(char c)
{
    return c == '/' || c == '\\' || c == ':';
}

bool sys_drive_folder(const char *path, std::size_t leaf)
{
    return leaf > 0 && (path[leaf - 1] == ':' || (leaf == 3 && path[1] == ':'));
}

// No sharing of delete: the folder cannot be renamed away while held.
bool sys_folder_hold(const char *path, sys_handle *dir)
{
    HANDLE h = CreateFileA(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    *dir = reinterpret_cast<sys_handle>(h);
    if (h != INVALID_HANDLE_VALUE)
        return true;
    _doserrno = GetLastError();
    return false;
}

void sys_folder_release(sys_handle dir)
{
    if (handle(dir) != nullptr && handle(dir) != INVALID_HANDLE_VALUE)
        CloseHandle(handle(dir));
}

sys_opened sys_open_in(sys_handle dir, const char *name, sys_open_for how, sys_handle *h)
{
    HANDLE opened = INVALID_HANDLE_VALUE;
    const NTSTATUS status = open_in(dir, name, NT_OPEN[how], &opened);
    *h = reinterpret_cast<sys_handle>(opened);
    if (status >= 0)
        return SYS_OPENED;
    if (status == NAME_NOT_FOUND)
        return SYS_NO_NAME;
    if (status == SHARING_VIOLATION)
        return SYS_HELD;
    return status == IS_A_DIRECTORY || status == NAME_COLLISION ? SYS_NOT_PLAIN : SYS_FAILED;
}

bool sys_plain(sys_handle h, unsigned *links)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle(h)) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle(h), &info))
        return false;
    *links = info.nNumberOfLinks;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

bool sys_blocking(sys_handle)
{
    return true;
}

std::FILE *sys_stream(sys_handle h, sys_open_for how)
{
    int fd = _open_osfhandle(h, NT_OPEN[how].flags | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle(h));
    return stream_of_fd(fd, NT_OPEN[how].mode);
}

void sys_close(sys_handle h)
{
    CloseHandle(handle(h));
}

bool sys_names(sys_handle dir, const char *name, sys_handle h)
{
    HANDLE named = INVALID_HANDLE_VALUE;
    const bool same = open_in(dir, name, NT_LOOK, &named) >= 0 && sys_same_file(reinterpret_cast<sys_handle>(named), h);
    if (named != INVALID_HANDLE_VALUE)
        CloseHandle(named);
    return same;
}

bool sys_remove(sys_handle, const char *, sys_handle h)
{
    FILE_DISPOSITION_INFORMATION gone{TRUE};
    return set_info(handle(h), &gone, sizeof gone, FileDispositionInformation) >= 0;
}

bool sys_rename(sys_handle dir, std::FILE *made, const char *, const char *to)
{
    constexpr ULONG room = sizeof(FILE_RENAME_INFORMATION) + NAME_CAP * sizeof(wchar_t);
    alignas(FILE_RENAME_INFORMATION) unsigned char buf[room] = {};
    auto *info = reinterpret_cast<FILE_RENAME_INFORMATION *>(buf);
    if (std::fflush(made) != 0 || !wide_name(to, info->FileName, NAME_CAP, &info->FileNameLength))
        return false;
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = handle(dir);
    // By the handle, within the held folder.
    return set_info(handle(sys_handle_of(made)), info, room, FileRenameInformation) >= 0;
}

bool sys_folder_sync(sys_handle)
{
    return true;  // each file renamed was made with FILE_WRITE_THROUGH: its new name is on the disk already
}
