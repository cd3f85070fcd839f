#include "patch/folder_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "patch/file_io.h"
#include "patch/strings.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winternl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
using folder_handle = HANDLE;
#else
using folder_handle = int;
#endif

namespace {

// The path given, with its folder and its last name told apart.
struct split_path {
    char *path;
    std::size_t leaf;  // index of the last name in `path`
};

bool split(const char *path, split_path *s)
{
    s->path = copy_string(path);
    if (s->path == nullptr)
        return false;
    std::size_t cut = std::strlen(path);
    while (cut > 0 && path[cut - 1] != '/'
#ifdef _WIN32
           && path[cut - 1] != '\\' && path[cut - 1] != ':'
#endif
    )
        --cut;
    s->leaf = cut;
    return true;
}

// The folder part of `s`, as a new string: "." for a bare name.
char *folder_of(const split_path &s)
{
    std::size_t len = s.leaf > 1 ? s.leaf - 1 : s.leaf;
#ifdef _WIN32
    // "C:\" and "C:" keep their separator or stand for the drive's folder.
    if (s.leaf > 0 && (s.path[s.leaf - 1] == ':' || (s.leaf == 3 && s.path[1] == ':')))
        len = s.leaf;
#endif
    if (len == 0)
        return copy_string(".");
    auto *folder = static_cast<char *>(std::malloc(len + 1));
    if (folder != nullptr)
        std::snprintf(folder, len + 1, "%.*s", static_cast<int>(len), s.path);
    return folder;
}

// The last name with `suffix`, as a new string.
char *leaf_with(const split_path &s, const char *suffix)
{
    std::size_t len = std::strlen(s.path + s.leaf) + std::strlen(suffix) + 1;
    auto *name = static_cast<char *>(std::malloc(len));
    if (name != nullptr)
        std::snprintf(name, len, "%s%s", s.path + s.leaf, suffix);
    return name;
}

} // namespace

// The folder's handle, or on Linux its descriptor.
struct held_folder {
    folder_handle dir;
    split_path name;
};

#ifdef _WIN32

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

// Leaves the Win32 error of a failed call in _doserrno, where error_cause
// reads it.
NTSTATUS failed(NTSTATUS status)
{
    auto to_dos = ntdll<rtl_nt_status_to_dos_error_fn>("RtlNtStatusToDosError");
    _doserrno = to_dos != nullptr ? to_dos(status) : ERROR_INVALID_FUNCTION;
    errno = 0;
    return status;
}

// The last name with `suffix` in UTF-16; false when it does not fit.
bool wide_leaf(const held_folder *d, const char *suffix, wchar_t *out, int cap, ULONG *bytes)
{
    char *narrow = leaf_with(d->name, suffix);
    int n = narrow != nullptr ? MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, -1, out, cap) : 0;
    std::free(narrow);
    *bytes = n > 0 ? static_cast<ULONG>((n - 1) * sizeof(wchar_t)) : 0;
    return n > 0;
}

constexpr int NAME_CAP = 1024;

// Opens the name with `suffix` in the held folder, never by a path.
NTSTATUS open_in(const held_folder *d, const char *suffix, ACCESS_MASK access, ULONG share, ULONG disposition,
                 ULONG options, HANDLE *h)
{
    *h = INVALID_HANDLE_VALUE;
    wchar_t name[NAME_CAP];
    ULONG bytes = 0;
    auto create = ntdll<nt_create_file_fn>("NtCreateFile");
    if (create == nullptr)
        return failed(NO_NTDLL);
    if (!wide_leaf(d, suffix, name, NAME_CAP, &bytes))
        return failed(PATH_NOT_FOUND);
    UNICODE_STRING us{static_cast<USHORT>(bytes), static_cast<USHORT>(bytes), name};
    OBJECT_ATTRIBUTES oa{};
    InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, d->dir, nullptr);
    IO_STATUS_BLOCK io{};
    NTSTATUS status = create(h, access | SYNCHRONIZE, &oa, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                             options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
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

bool same_object(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y)
           && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh
           && x.nFileIndexLow == y.nFileIndexLow;
}

HANDLE handle_of(std::FILE *f)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
}

// A plain file on a disk, not a link, a device or a pipe.
bool plain(HANDLE h, DWORD *links)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info))
        return false;
    *links = info.nNumberOfLinks;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

std::FILE *stream_of(HANDLE h, int flags, const char *mode)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0)
        CloseHandle(h);
    return stream_of_fd(fd, mode);
}

bool delete_by_handle(HANDLE h)
{
    FILE_DISPOSITION_INFORMATION gone{TRUE};
    return set_info(h, &gone, sizeof gone, FileDispositionInformation) >= 0;
}

} // namespace

// Opened without sharing, so that nothing can take its place before it goes
// by its handle.
bool held_folder_clear(const held_folder *d, const char *suffix, const char *kept_suffix, file_cause *cause)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    error_clear();
    NTSTATUS status = open_in(d, suffix, DELETE | FILE_READ_ATTRIBUTES, 0, FILE_OPEN,
                              LINK_NOT_FOLLOWED | FILE_NON_DIRECTORY_FILE, &h);
    if (status == NAME_NOT_FOUND) {
        *cause = CAUSE_NONE;
        return true;
    }
    if (status < 0) {
        *cause = status == SHARING_VIOLATION ? CAUSE_BACKUP_HELD
                 : status == IS_A_DIRECTORY  ? CAUSE_BACKUP_NOT_REGULAR
                                             : error_cause();
        return false;
    }
    DWORD links = 0;
    bool ours = plain(h, &links) && links == 1;
    HANDLE kept = INVALID_HANDLE_VALUE;
    if (!ours && links == 2
        && open_in(d, kept_suffix, FILE_READ_ATTRIBUTES, SHARE_ALL, FILE_OPEN, LINK_NOT_FOLLOWED, &kept) >= 0) {
        ours = same_object(h, kept);
        CloseHandle(kept);
    }
    bool removed = ours && delete_by_handle(h);
    *cause = !ours ? CAUSE_BACKUP_NOT_REGULAR : removed ? CAUSE_NONE : error_cause();
    CloseHandle(h);
    return removed;
}

namespace {

// No sharing of delete: the folder cannot be renamed away while held.
bool hold_folder(held_folder *d, const char *folder)
{
    d->dir = CreateFileA(folder, FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (d->dir != INVALID_HANDLE_VALUE)
        return true;
    _doserrno = GetLastError();
    return false;
}

void let_folder_go(held_folder *d)
{
    if (d->dir != nullptr && d->dir != INVALID_HANDLE_VALUE)
        CloseHandle(d->dir);
}

// Whether the file's name in the folder is the file `same_as` has open, and
// how many names that file has.
bool names_scanned(const held_folder *d, std::FILE *same_as, unsigned *links)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD n = 0;
    const bool same = open_in(d, "", FILE_READ_ATTRIBUTES, SHARE_ALL, FILE_OPEN, LINK_NOT_FOLLOWED, &h) >= 0
                      && same_object(h, handle_of(same_as)) && plain(h, &n);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    *links = n;
    return same;
}

} // namespace

std::FILE *held_folder_read(const held_folder *d, const char *suffix, file_cause *cause)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    error_clear();
    NTSTATUS status = open_in(d, suffix, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, LINK_NOT_FOLLOWED, &h);
    if (status < 0) {
        *cause = status == NAME_NOT_FOUND || status == PATH_NOT_FOUND ? CAUSE_MISSING : error_cause();
        return nullptr;
    }
    DWORD links = 0;
    if (!plain(h, &links)) {
        CloseHandle(h);
        *cause = CAUSE_BACKUP_NOT_REGULAR;
        return nullptr;
    }
    std::FILE *f = stream_of(h, _O_RDONLY, "rb");
    *cause = f != nullptr ? CAUSE_NONE : error_cause();
    return f;
}

std::FILE *held_folder_create(const held_folder *d, const char *suffix, file_cause *cause)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    error_clear();
    NTSTATUS status = open_in(d, suffix, GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH, &h);
    if (status < 0) {
        *cause = status == IS_A_DIRECTORY || status == NAME_COLLISION ? CAUSE_BACKUP_NOT_REGULAR : error_cause();
        return nullptr;
    }
    std::FILE *f = stream_of(h, _O_WRONLY, "wb");
    *cause = f != nullptr ? CAUSE_NONE : error_cause();
    return f;
}

bool held_folder_rename(const held_folder *d, std::FILE *made, const char *, const char *to, bool *on_disk,
                        file_cause *cause)
{
    *on_disk = false;
    constexpr ULONG room = sizeof(FILE_RENAME_INFORMATION) + NAME_CAP * sizeof(wchar_t);
    alignas(FILE_RENAME_INFORMATION) unsigned char buf[room] = {};
    auto *info = reinterpret_cast<FILE_RENAME_INFORMATION *>(buf);
    error_clear();
    if (std::fflush(made) != 0 || !wide_leaf(d, to, info->FileName, NAME_CAP, &info->FileNameLength)) {
        *cause = error_cause();
        return false;
    }
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = d->dir;
    // By the handle, within the held folder; the file was made with
    // FILE_WRITE_THROUGH, so its new name is on the disk when this returns.
    if (set_info(handle_of(made), info, room, FileRenameInformation) < 0) {
        *cause = error_cause();
        return false;
    }
    *on_disk = true;
    return true;
}

void held_folder_remove(const held_folder *, std::FILE *made, const char *)
{
    (void)delete_by_handle(handle_of(made));  // at worst a temporary copy stays, which the next run removes
}

#else

namespace {

// The name with `suffix` in the held folder, as the last name of the path.
struct rel_name {
    char *text;
};

rel_name name_in(const held_folder *d, const char *suffix)
{
    return {leaf_with(d->name, suffix)};
}

bool same_inode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the name with `suffix` in the held folder is the file `fd` has open.
bool names_file(const held_folder *d, const char *suffix, int fd)
{
    rel_name n = name_in(d, suffix);
    struct stat a{}, b{};
    bool same = n.text != nullptr && fstatat(d->dir, n.text, &a, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &b) == 0
                && same_inode(a, b);
    std::free(n.text);
    return same;
}

// Opened in the held folder without following a link or blocking (a FIFO
// would wait for a writer); errno tells why not.
int open_in(const held_folder *d, const char *suffix, int flags)
{
    rel_name n = name_in(d, suffix);
    int fd = n.text != nullptr ? openat(d->dir, n.text, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
    std::free(n.text);
    return fd;
}

} // namespace

bool held_folder_clear(const held_folder *d, const char *suffix, const char *kept_suffix, file_cause *cause)
{
    error_clear();
    int fd = open_in(d, suffix, O_RDONLY);
    if (fd < 0) {
        *cause = errno == ENOENT ? CAUSE_NONE : errno == ELOOP ? CAUSE_BACKUP_NOT_REGULAR : error_cause();
        return errno == ENOENT;
    }
    struct stat st{};
    const bool ours = fstat(fd, &st) == 0 && S_ISREG(st.st_mode)
                      && (st.st_nlink == 1 || (st.st_nlink == 2 && names_file(d, kept_suffix, fd)));
    // Removed by its name only while the name is still that file; the name
    // is in the held folder either way.
    rel_name n = name_in(d, suffix);
    const bool removed = ours && names_file(d, suffix, fd) && n.text != nullptr && unlinkat(d->dir, n.text, 0) == 0;
    *cause = removed ? CAUSE_NONE : ours ? error_cause() : CAUSE_BACKUP_NOT_REGULAR;
    std::free(n.text);
    close(fd);
    return removed;
}

namespace {

bool hold_folder(held_folder *d, const char *folder)
{
    d->dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return d->dir >= 0;
}

void let_folder_go(held_folder *d)
{
    if (d->dir > 0)
        close(d->dir);
}

// Whether the file's name in the folder is the file `same_as` has open, and
// how many names that file has.
bool names_scanned(const held_folder *d, std::FILE *same_as, unsigned *links)
{
    struct stat st{};
    const bool same = names_file(d, "", fileno(same_as)) && fstat(fileno(same_as), &st) == 0;
    *links = static_cast<unsigned>(st.st_nlink);
    return same;
}

} // namespace

std::FILE *held_folder_read(const held_folder *d, const char *suffix, file_cause *cause)
{
    error_clear();
    int fd = open_in(d, suffix, O_RDONLY);
    struct stat st{};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        const int e = errno;
        *cause = e == ENOENT ? CAUSE_MISSING : fd >= 0 || e == ELOOP ? CAUSE_BACKUP_NOT_REGULAR : error_cause();
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    *cause = CAUSE_NONE;
    return stream_of_fd(fd, "rb");
}

std::FILE *held_folder_create(const held_folder *d, const char *suffix, file_cause *cause)
{
    error_clear();
    rel_name n = name_in(d, suffix);
    int fd = n.text != nullptr ? openat(d->dir, n.text, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666) : -1;
    std::free(n.text);
    *cause = fd >= 0 ? CAUSE_NONE : error_cause();
    return stream_of_fd(fd, "wb");
}

bool held_folder_rename(const held_folder *d, std::FILE *made, const char *from, const char *to, bool *on_disk,
                        file_cause *cause)
{
    rel_name a = name_in(d, from), b = name_in(d, to);
    error_clear();
    bool named = a.text != nullptr && b.text != nullptr && names_file(d, from, fileno(made));
    if (named && renameat2(d->dir, a.text, d->dir, b.text, RENAME_NOREPLACE) != 0) {
        // Where the file system cannot refuse to replace, a second name that
        // never replaces, then the first goes; a cut in between leaves a
        // second name that the next run removes.
        named = (errno == EINVAL || errno == ENOSYS) && linkat(d->dir, a.text, d->dir, b.text, 0) == 0;
        if (named)
            (void)unlinkat(d->dir, a.text, 0);  // left behind at worst, and removed by the next run
    }
    named = named && names_file(d, to, fileno(made));
    // A new name is on the disk only once its folder is.
    *on_disk = named && fsync(d->dir) == 0;
    *cause = *on_disk ? CAUSE_NONE : error_cause();
    std::free(a.text);
    std::free(b.text);
    return named;
}

void held_folder_remove(const held_folder *d, std::FILE *made, const char *suffix)
{
    rel_name n = name_in(d, suffix);
    if (n.text != nullptr && names_file(d, suffix, fileno(made)))
        (void)unlinkat(d->dir, n.text, 0);  // at worst a temporary copy stays, which the next run removes
    std::free(n.text);
}

#endif

held_folder *held_folder_open(const char *path, std::FILE *same_as, file_cause *cause)
{
    auto *d = static_cast<held_folder *>(std::calloc(1, sizeof(held_folder)));
    char *folder = nullptr;
    *cause = CAUSE_NONE;
    error_clear();
    const bool held = d != nullptr && split(path, &d->name) && (folder = folder_of(d->name)) != nullptr
                      && hold_folder(d, folder);
    std::free(folder);
    unsigned links = 0;
    const bool same = held && names_scanned(d, same_as, &links);
    if (same && links == 1)
        return d;
    *cause = !held ? error_cause() : same ? CAUSE_HARD_LINKED : CAUSE_CHANGED;
    held_folder_close(d);
    return nullptr;
}

void held_folder_close(held_folder *d)
{
    if (d == nullptr)
        return;
    let_folder_go(d);
    free_string(d->name.path);
    std::free(d);
}

char *held_folder_name(const held_folder *d, const char *suffix)
{
    std::size_t len = std::strlen(d->name.path) + std::strlen(suffix) + 1;
    auto *name = static_cast<char *>(std::malloc(len));
    if (name != nullptr)
        std::snprintf(name, len, "%s%s", d->name.path, suffix);
    return name;
}
