#include "patch/folder_io.h"

#include <cstdlib>
#include <cstring>

#include "patch/file_io.h"
#include "patch/strings.h"
#include "platform/file_sys.h"

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
    while (cut > 0 && !sys_path_separator(path[cut - 1]))
        --cut;
    s->leaf = cut;
    return true;
}

// The folder part of `s`, as a new string: "." for a bare name.
char *folder_of(const split_path &s)
{
    const std::size_t len = s.leaf > 1 && !sys_drive_folder(s.path, s.leaf) ? s.leaf - 1 : s.leaf;
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

struct held_folder {
    sys_handle dir;
    split_path name;
};

namespace {

// Whether the file's name in the folder is the file `same_as` has open, and
// how many names that file has.
bool names_scanned(const held_folder *d, std::FILE *same_as, unsigned *links)
{
    char *name = leaf_with(d->name, "");
    const sys_handle scanned = sys_handle_of(same_as);
    const bool same = sys_names(d->dir, name, scanned) && sys_plain(scanned, links);
    std::free(name);
    return same;
}

} // namespace

held_folder *held_folder_open(const char *path, std::FILE *same_as, file_cause *cause)
{
    auto *d = static_cast<held_folder *>(std::calloc(1, sizeof(held_folder)));
    char *folder = nullptr;
    *cause = CAUSE_NONE;
    error_clear();
    const bool held = d != nullptr && split(path, &d->name) && (folder = folder_of(d->name)) != nullptr
                      && sys_folder_hold(folder, &d->dir);
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
    sys_folder_release(d->dir);
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

namespace {

// Opens the file named as the held one with `suffix` added, in its folder.
sys_opened open_beside(const held_folder *d, const char *suffix, sys_open_for how, sys_handle *h)
{
    char *name = leaf_with(d->name, suffix);
    error_clear();
    const sys_opened opened = sys_open_in(d->dir, name, how, h);
    std::free(name);
    return opened;
}

std::FILE *stream_of(sys_handle h, sys_open_for how, file_cause *cause)
{
    std::FILE *f = sys_stream(h, how);
    *cause = f != nullptr ? CAUSE_NONE : error_cause();
    return f;
}

} // namespace

std::FILE *held_folder_read(const held_folder *d, const char *suffix, file_cause *cause)
{
    sys_handle h = 0;
    const sys_opened opened = open_beside(d, suffix, SYS_FOR_READ, &h);
    if (opened != SYS_OPENED) {
        *cause = opened == SYS_NO_NAME     ? CAUSE_MISSING
                 : opened == SYS_NOT_PLAIN ? CAUSE_BACKUP_NOT_REGULAR
                                           : error_cause();
        return nullptr;
    }
    unsigned links = 0;
    if (!sys_plain(h, &links) || !sys_blocking(h)) {
        sys_close(h);
        *cause = CAUSE_BACKUP_NOT_REGULAR;
        return nullptr;
    }
    return stream_of(h, SYS_FOR_READ, cause);
}

// Opened so that, where the system allows, nothing can take its place
// before it goes.
bool held_folder_clear(const held_folder *d, const char *suffix, const char *kept_suffix, file_cause *cause)
{
    char *name = leaf_with(d->name, suffix), *kept = leaf_with(d->name, kept_suffix);
    sys_handle h = 0;
    error_clear();
    const sys_opened opened = sys_open_in(d->dir, name, SYS_FOR_REMOVE, &h);
    bool removed = opened == SYS_NO_NAME;
    if (opened == SYS_OPENED) {
        unsigned links = 0;
        const bool ours = sys_plain(h, &links) && (links == 1 || (links == 2 && sys_names(d->dir, kept, h)));
        removed = ours && sys_remove(d->dir, name, h);
        *cause = !ours ? CAUSE_BACKUP_NOT_REGULAR : removed ? CAUSE_NONE : error_cause();
        sys_close(h);
    } else {
        *cause = removed                   ? CAUSE_NONE
                 : opened == SYS_HELD      ? CAUSE_BACKUP_HELD
                 : opened == SYS_NOT_PLAIN ? CAUSE_BACKUP_NOT_REGULAR
                                           : error_cause();
    }
    std::free(name);
    std::free(kept);
    return removed;
}

std::FILE *held_folder_create(const held_folder *d, const char *suffix, file_cause *cause)
{
    sys_handle h = 0;
    const sys_opened opened = open_beside(d, suffix, SYS_FOR_CREATE, &h);
    if (opened != SYS_OPENED) {
        *cause = opened == SYS_NOT_PLAIN ? CAUSE_BACKUP_NOT_REGULAR : error_cause();
        return nullptr;
    }
    return stream_of(h, SYS_FOR_CREATE, cause);
}

bool held_folder_rename(const held_folder *d, std::FILE *made, const char *from, const char *to, bool *on_disk,
                        file_cause *cause)
{
    char *a = leaf_with(d->name, from), *b = leaf_with(d->name, to);
    error_clear();
    const bool named = sys_rename(d->dir, made, a, b);
    *on_disk = named && sys_folder_sync(d->dir);
    *cause = *on_disk ? CAUSE_NONE : error_cause();
    std::free(a);
    std::free(b);
    return named;
}

void held_folder_remove(const held_folder *d, std::FILE *made, const char *suffix)
{
    char *name = leaf_with(d->name, suffix);
    // At worst a temporary copy stays, which the next run removes.
    (void)sys_remove(d->dir, name, sys_handle_of(made));
    std::free(name);
}
