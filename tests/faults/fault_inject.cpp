// Loaded with LD_PRELOAD into the CLI or the fault runner: makes one stdio
// call on the watched file fail, or changes the file just before it is
// opened for update, so that the tests can see what the patcher does when
// the disk lets it down or the file changes under it. Without
// ZANDOR_FAULT_PATH it only passes every call on.
//
//   ZANDOR_FAULT_PATH    the file to watch: only handles opened on it count
//   ZANDOR_FAULT_OP      fread, fwrite, fseek, fflush or fclose
//   ZANDOR_FAULT_AT      which call of that op fails, from 1
//   ZANDOR_FAULT_MODE    once (default), always (that call and every later
//                        one) or short (fread/fwrite move half, then fail)
//   ZANDOR_FAULT_CHANGE  truncate, grow, delete, replace:FILE or poke:OFS:HEX,
//                        done to the file just before its Nth update open
//   ZANDOR_FAULT_CHANGE_AT  N for the above (default 1)
//   ZANDOR_FAULT_LOG     a file that gets, at exit, one line per op:
//                        "OP calls fired" (fopen_update for the update opens)

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum op_id { OP_FREAD, OP_FWRITE, OP_FSEEK, OP_FFLUSH, OP_FCLOSE, OP_UPDATE_OPEN, OP_COUNT };
const char *const op_names[OP_COUNT] = {"fread", "fwrite", "fseek", "fflush", "fclose", "fopen_update"};

enum fault_mode { MODE_ONCE, MODE_ALWAYS, MODE_SHORT };

constexpr int MAX_WATCHED = 16;

struct fault_state {
    bool loaded;
    const char *path;
    int op;
    long at;
    fault_mode mode;
    const char *change;
    long change_at;
    const char *log;
    long calls[OP_COUNT];
    long fired[OP_COUNT];
    std::FILE *watched[MAX_WATCHED];
};

fault_state state;

using fopen_fn = std::FILE *(*)(const char *, const char *);
using fread_fn = std::size_t (*)(void *, std::size_t, std::size_t, std::FILE *);
using fwrite_fn = std::size_t (*)(const void *, std::size_t, std::size_t, std::FILE *);
using fseek_fn = int (*)(std::FILE *, long, int);
using file_fn = int (*)(std::FILE *);

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void write_log()
{
    if (state.log == nullptr)
        return;
    int fd = open(state.log, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    char line[128];
    for (int i = 0; i < OP_COUNT; ++i) {
        int n = std::snprintf(line, sizeof line, "%s %ld %ld\n", op_names[i], state.calls[i], state.fired[i]);
        if (n > 0 && write(fd, line, static_cast<std::size_t>(n)) != n)
            break;
    }
    close(fd);
}

void load()
{
    if (state.loaded)
        return;
    state.loaded = true;
    state.path = std::getenv("ZANDOR_FAULT_PATH");
    state.op = -1;
    const char *op = std::getenv("ZANDOR_FAULT_OP");
    for (int i = 0; op != nullptr && i < OP_COUNT; ++i)
        if (std::strcmp(op, op_names[i]) == 0)
            state.op = i;
    const char *at = std::getenv("ZANDOR_FAULT_AT");
    state.at = at != nullptr ? std::strtol(at, nullptr, 10) : 0;
    const char *mode = std::getenv("ZANDOR_FAULT_MODE");
    state.mode = mode == nullptr ? MODE_ONCE
                 : std::strcmp(mode, "always") == 0 ? MODE_ALWAYS
                 : std::strcmp(mode, "short") == 0 ? MODE_SHORT
                                                    : MODE_ONCE;
    state.change = std::getenv("ZANDOR_FAULT_CHANGE");
    const char *change_at = std::getenv("ZANDOR_FAULT_CHANGE_AT");
    state.change_at = change_at != nullptr ? std::strtol(change_at, nullptr, 10) : 1;
    state.log = std::getenv("ZANDOR_FAULT_LOG");
    if (state.log != nullptr)
        std::atexit(write_log);
}

bool is_watched(std::FILE *f)
{
    for (std::FILE *w : state.watched)
        if (w != nullptr && w == f)
            return true;
    return false;
}

void watch(std::FILE *f)
{
    for (std::FILE *&w : state.watched)
        if (w == nullptr) {
            w = f;
            return;
        }
}

void forget(std::FILE *f)
{
    for (std::FILE *&w : state.watched)
        if (w == f)
            w = nullptr;
}

// Counts a call of `op` on a watched handle; true when this one must fail.
bool must_fail(int op, std::FILE *f)
{
    load();
    if (!is_watched(f))
        return false;
    long n = ++state.calls[op];
    bool fail = op == state.op && (n == state.at || (state.mode == MODE_ALWAYS && n > state.at && state.at > 0));
    if (fail)
        ++state.fired[op];
    return fail;
}

void change_file(const char *path)
{
    const char *c = state.change;
    if (std::strcmp(c, "truncate") == 0) {
        int fd = open(path, O_RDWR);
        off_t end = fd >= 0 ? lseek(fd, 0, SEEK_END) : -1;
        if (end > 0 && ftruncate(fd, end - 1) != 0)
            std::abort();
        if (fd >= 0)
            close(fd);
    } else if (std::strcmp(c, "grow") == 0) {
        int fd = open(path, O_WRONLY | O_APPEND);
        if (fd < 0 || write(fd, "\0", 1) != 1)
            std::abort();
        close(fd);
    } else if (std::strcmp(c, "delete") == 0) {
        if (unlink(path) != 0)
            std::abort();
    } else if (std::strncmp(c, "replace:", 8) == 0) {
        if (rename(c + 8, path) != 0)
            std::abort();
    } else if (std::strncmp(c, "poke:", 5) == 0) {
        char *end = nullptr;
        long ofs = std::strtol(c + 5, &end, 10);
        auto byte = static_cast<unsigned char>(std::strtoul(end + 1, nullptr, 16));
        int fd = open(path, O_WRONLY);
        if (fd < 0 || pwrite(fd, &byte, 1, ofs) != 1)
            std::abort();
        close(fd);
    }
}

// As the C library does on a real error, so that ferror() tells.
void mark_error(std::FILE *f)
{
    f->_flags |= _IO_ERR_SEEN;
    errno = EIO;
}

std::FILE *open_watched(const char *name, const char *path, const char *mode)
{
    load();
    bool ours = state.path != nullptr && std::strcmp(path, state.path) == 0;
    if (ours && std::strchr(mode, '+') != nullptr) {
        long n = ++state.calls[OP_UPDATE_OPEN];
        if (state.change != nullptr && n == state.change_at) {
            ++state.fired[OP_UPDATE_OPEN];
            change_file(path);
        }
    }
    std::FILE *f = real<fopen_fn>(name)(path, mode);
    if (ours && f != nullptr)
        watch(f);
    return f;
}

} // namespace

// The C library's declarations name their parameters in its reserved style.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" {

std::FILE *fopen(const char *path, const char *mode)
{
    return open_watched("fopen", path, mode);
}

std::FILE *fopen64(const char *path, const char *mode)
{
    return open_watched("fopen64", path, mode);
}

std::size_t fread(void *buf, std::size_t size, std::size_t n, std::FILE *f)
{
    if (!must_fail(OP_FREAD, f))
        return real<fread_fn>("fread")(buf, size, n, f);
    std::size_t moved = state.mode == MODE_SHORT ? real<fread_fn>("fread")(buf, size, n / 2, f) : 0;
    mark_error(f);
    return moved;
}

std::size_t fwrite(const void *buf, std::size_t size, std::size_t n, std::FILE *f)
{
    if (!must_fail(OP_FWRITE, f))
        return real<fwrite_fn>("fwrite")(buf, size, n, f);
    // Part of the bytes reach the file, as when a disk fills up mid-way.
    std::size_t moved = state.mode == MODE_SHORT ? real<fwrite_fn>("fwrite")(buf, size, n / 2, f) : 0;
    mark_error(f);
    return moved;
}

int fseek(std::FILE *f, long ofs, int whence)
{
    if (!must_fail(OP_FSEEK, f))
        return real<fseek_fn>("fseek")(f, ofs, whence);
    errno = EIO;
    return -1;
}

int fflush(std::FILE *f)
{
    if (!must_fail(OP_FFLUSH, f))
        return real<file_fn>("fflush")(f);
    mark_error(f);
    return EOF;
}

int fclose(std::FILE *f)
{
    bool fail = must_fail(OP_FCLOSE, f);
    forget(f);
    // The handle is released either way, as the C library does on an error.
    int closed = real<file_fn>("fclose")(f);
    if (!fail)
        return closed;
    errno = EIO;
    return EOF;
}

} // extern "C"
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
