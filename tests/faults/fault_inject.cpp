// Loaded with LD_PRELOAD into the CLI: makes stdio calls (and fstat) on the
// game file fail, or kills the process after one, so that the tests see what the
// patcher does when the disk lets it down or the power goes. Without
// ZANDOR_FAULT_PATH it passes every call on.
//
//   ZANDOR_FAULT_PATH    the file to watch: calls on handles open on it count
//   ZANDOR_FAULT_OP      fread, fwrite, fseek, fflush, fclose, fstat or fsync
//                        (ZANDOR_FAULT_PATH may be a folder); or
//                        renameat2: a rename onto the watched file's name
//                        fails as where the file system has no
//                        RENAME_NOREPLACE; or relink: just before open or
//                        openat call AT (of any file), the link
//                        ZANDOR_FAULT_LINK is re-pointed at ZANDOR_FAULT_TARGET,
//                        as another user re-points a folder of the path
//   ZANDOR_FAULT_AT      which call of that op fails, from 1
//   ZANDOR_FAULT_MODE    once (default), always (that call and every later
//                        one), short (fread/fwrite move half, then fail),
//                        kill (the call is made, then the process killed),
//                        or tear and tear2 (a power cut inside an fwrite:
//                        only its bytes in the first, or the last, of the
//                        512-byte sectors it spans land, then the kill)
//   ZANDOR_FAULT_THEN_KILL  k: once a fault happened, the k-th fwrite on the
//                        file after it is made and the process killed
//   ZANDOR_FAULT_FIRED   a file created when a fault happens

#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *env(const char *name, const char *fallback = nullptr)
{
    const char *v = std::getenv(name);
    return v != nullptr ? v : fallback;
}

// Read when the library is loaded, before the program's main.
const char *const path = env("ZANDOR_FAULT_PATH"), *const op = env("ZANDOR_FAULT_OP", "");
const char *const mode = env("ZANDOR_FAULT_MODE", "once");
const long fail_at = std::strtol(env("ZANDOR_FAULT_AT", "0"), nullptr, 10);
// A failing fread or fwrite moves half first, as when a disk fills up mid-way.
const bool half_first = std::strcmp(mode, "short") == 0;
const long then_kill = std::strtol(env("ZANDOR_FAULT_THEN_KILL", "0"), nullptr, 10);
long calls, writes_after, opens; // of the op, of fwrites after the fault, of opens
bool fired;

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Whether a descriptor is open on the watched file.
bool watched(int fd)
{
    const auto real_fstat = real<int (*)(int, struct stat *)>("fstat");
    struct stat a{}, b{};
    return path != nullptr && fd >= 0 && real_fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_ino == b.st_ino
           && a.st_dev == b.st_dev;
}

// Creates ZANDOR_FAULT_FIRED, so that the test knows the fault happened.
bool mark_fired()
{
    fired = true;
    if (env("ZANDOR_FAULT_FIRED") != nullptr)
        close(real<int (*)(const char *, int, ...)>("open")(env("ZANDOR_FAULT_FIRED"), O_WRONLY | O_CREAT, 0644));
    return true;
}

// Counts a call of `name` on a descriptor open on the watched file; true
// when this one must fail.
bool must_fail(const char *name, int fd)
{
    if (std::strcmp(name, op) != 0 || !watched(fd))
        return false;
    ++calls;
    if (calls != fail_at && (calls < fail_at || std::strcmp(mode, "always") != 0))
        return false;
    return mark_fired();
}

// A failed call's result; the handle (when given) marked as the C library
// marks it on a real error, so that ferror() tells.
template <typename T> T failed(T result, std::FILE *f = nullptr)
{
    if (f != nullptr)
        f->_flags |= _IO_ERR_SEEN;
    errno = EIO;
    return result;
}

void relink_when_due()
{
    if (std::strcmp(op, "relink") != 0 || ++opens != fail_at)
        return;
    const std::string link = env("ZANDOR_FAULT_LINK", ""), fresh = link + ".new";
    if (symlink(env("ZANDOR_FAULT_TARGET", ""), fresh.c_str()) == 0 && rename(fresh.c_str(), link.c_str()) == 0)
        mark_fired();
}

} // namespace

// The C library's declarations name their parameters in its reserved style.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" {

std::size_t fread(void *buf, std::size_t size, std::size_t n, std::FILE *f)
{
    const bool fail = must_fail("fread", fileno(f));
    const std::size_t moved = real<decltype(&fread)>("fread")(buf, size, fail ? (half_first ? n / 2 : 0) : n, f);
    return fail ? failed(moved, f) : moved;
}

std::size_t fwrite(const void *buf, std::size_t size, std::size_t n, std::FILE *f)
{
    // After the fault, the fwrite on the watched file to kill the process after.
    const bool then = fired && then_kill > 0 && watched(fileno(f)) && ++writes_after == then_kill;
    const bool fail = must_fail("fwrite", fileno(f));
    const auto real_fwrite = real<decltype(&fwrite)>("fwrite");
    if ((fail && std::strcmp(mode, "kill") == 0) || then) {
        real_fwrite(buf, size, n, f);
        raise(SIGKILL);  // as a power cut or a kill right after this write
    }
    if (fail && std::strncmp(mode, "tear", 4) == 0) {
        // Sectors land whole: only the part in the first (or the last) one.
        const long at = std::ftell(f), len = static_cast<long>(size * n);
        const long last_start = std::max(0L, ((at + len - 1) / 512) * 512 - at);
        if (std::strcmp(mode, "tear") == 0)
            real_fwrite(buf, 1, static_cast<std::size_t>(std::min(len, (at / 512 + 1) * 512 - at)), f);
        else if (std::fseek(f, last_start, SEEK_CUR) == 0)
            real_fwrite(static_cast<const char *>(buf) + last_start, 1, static_cast<std::size_t>(len - last_start), f);
        raise(SIGKILL);
    }
    const std::size_t moved = real_fwrite(buf, size, fail ? (half_first ? n / 2 : 0) : n, f);
    return fail ? failed(moved, f) : moved;
}

int fseek(std::FILE *f, long ofs, int whence)
{
    return must_fail("fseek", fileno(f)) ? failed(-1) : real<decltype(&fseek)>("fseek")(f, ofs, whence);
}

int fflush(std::FILE *f)
{
    return f != nullptr && must_fail("fflush", fileno(f)) ? failed(EOF, f) : real<decltype(&fflush)>("fflush")(f);
}

int fstat(int fd, struct stat *st)
{
    return must_fail("fstat", fd) ? failed(-1) : real<int (*)(int, struct stat *)>("fstat")(fd, st);
}

int fsync(int fd)
{
    return must_fail("fsync", fd) ? failed(-1) : real<int (*)(int)>("fsync")(fd);
}

// The handle is released either way, as the C library does on an error.
int fclose(std::FILE *f)
{
    const bool fail = must_fail("fclose", fileno(f));
    const int closed = real<decltype(&fclose)>("fclose")(f);
    return fail ? failed(EOF) : closed;
}

// Names come relative to the held folder: the watched file's own name counts.
int renameat2(int from_dir, const char *from, int to_dir, const char *to, unsigned flags)
{
    const char *name = path != nullptr ? std::strrchr(path, '/') : nullptr;
    if (name != nullptr && std::strcmp(op, "renameat2") == 0 && std::strcmp(to, name + 1) == 0) {
        errno = EINVAL;
        return -1;
    }
    return real<int (*)(int, const char *, int, const char *, unsigned)>("renameat2")(from_dir, from, to_dir, to, flags);
}

// Only a call that creates passes a mode on.
int open(const char *file, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode_given = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    return openat(AT_FDCWD, file, flags, mode_given);
}

int openat(int dir, const char *file, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode_given = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    relink_when_due();
    return real<int (*)(int, const char *, int, ...)>("openat")(dir, file, flags, mode_given);
}

} // extern "C"
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
