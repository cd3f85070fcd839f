#include "patch/backup.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "patch/file_io.h"
#include "patch/patch_run.h"

namespace {

// A cause in the words of a backup: a denied create is the folder's, a held
// file the copy's.
file_cause backup_cause(file_cause c)
{
    return c == CAUSE_DENIED ? CAUSE_FOLDER_DENIED : c == CAUSE_IN_USE ? CAUSE_BACKUP_HELD : c;
}

patch_outcome backup_failed(file_cause c)
{
    return outcome_of(RESULT_BACKUP_FAILED, -1, backup_cause(c));
}

bool read_chunk(std::FILE *f, int64_t at, uint8_t *buf, std::size_t n)
{
    return std::fseek(f, static_cast<long>(at), SEEK_SET) == 0 && std::fread(buf, 1, n, f) == n;
}

constexpr std::size_t CHUNK = 65536;

// The whole file from its start, read through the handle the scan read.
bool copy_stream(std::FILE *from, std::FILE *to)
{
    auto *chunk = static_cast<uint8_t *>(std::malloc(CHUNK));
    bool ok = chunk != nullptr && std::fseek(from, 0, SEEK_SET) == 0;
    while (ok) {
        std::size_t n = std::fread(chunk, 1, CHUNK, from);
        ok = std::fwrite(chunk, 1, n, to) == n;
        if (n < CHUNK) {
            ok = ok && std::ferror(from) == 0;
            break;
        }
    }
    std::free(chunk);
    return ok;
}

} // namespace

int backup_same_bytes(const patch_target *scanned, std::FILE *bak, bool but_sites)
{
    auto *a = static_cast<uint8_t *>(std::malloc(2 * CHUNK));
    uint8_t *b = a + CHUNK;
    int same = a != nullptr ? 1 : -1;
    for (int64_t at = 0; same == 1 && at < scanned->file_size; at += CHUNK) {
        const int64_t left = scanned->file_size - at;
        const auto n = static_cast<std::size_t>(left < static_cast<int64_t>(CHUNK) ? left : CHUNK);
        if (!read_chunk(scanned->file, at, a, n) || !read_chunk(bak, at, b, n)) {
            same = -1;
            break;
        }
        for (int site = 0; site < SITE_COUNT; ++site) {
            const int64_t ofs = target_site_ofs(scanned, site);
            const int64_t end = at + static_cast<int64_t>(n);
            const int64_t from = ofs > at ? ofs : at;
            const int64_t to = ofs + patch_catalogue[site].block_len < end ? ofs + patch_catalogue[site].block_len : end;
            if (but_sites && site_usable(target_site_ofs(scanned, site)) && from < to)
                std::memcpy(b + (from - at), a + (from - at), static_cast<std::size_t>(to - from));
        }
        same = std::memcmp(a, b, n) == 0 ? 1 : 0;
    }
    std::free(a);
    return same;
}

patch_outcome backup_verify(const patch_target *scanned, std::FILE *bak, const char *bak_path, patch_target **bak_scan)
{
    const int64_t len = file_length(bak);
    if (len < 0)
        return outcome_of(RESULT_READ_FAILED, -1, error_cause());
    if (len != scanned->file_size)
        return outcome_of(RESULT_BACKUP_UNVERIFIED, -1, CAUSE_BACKUP_FOREIGN);
    patch_target *other = nullptr;
    // The backup's own scan must read the file held open here, not whatever
    // has its name by now.
    if (scan_file(bak_path, &other) != RESULT_OK || !same_file(other->file, bak)
        || target_read_error_site(other) >= 0) {
        close_target(other);
        return outcome_of(RESULT_READ_FAILED);
    }
    patch_outcome o = outcome_of(RESULT_OK);
    for (int site = 0; site < SITE_COUNT && o.result == RESULT_OK; ++site)
        if (site_usable(target_site_ofs(scanned, site)) && target_site_ofs(other, site) != target_site_ofs(scanned, site))
            o = outcome_of(RESULT_BACKUP_UNVERIFIED, site, CAUSE_BACKUP_FOREIGN);
    const int same = o.result == RESULT_OK ? backup_same_bytes(scanned, bak, true) : 1;
    if (same != 1)
        o = outcome_of(same == 0 ? RESULT_BACKUP_UNVERIFIED : RESULT_READ_FAILED, -1,
                       same == 0 ? CAUSE_BACKUP_FOREIGN : CAUSE_NONE);
    if (o.result == RESULT_OK && bak_scan != nullptr)
        *bak_scan = other;
    else
        close_target(other);
    return o;
}

char *backup_path_of(const char *path)
{
    std::size_t len = std::strlen(path) + sizeof BACKUP_SUFFIX;
    auto *name = static_cast<char *>(std::malloc(len));
    if (name != nullptr)
        std::snprintf(name, len, "%s%s", path, BACKUP_SUFFIX);
    return name;
}

backup_beside backup_beside_of(const patch_target *scanned)
{
    char *name = backup_path_of(scanned->path);
    if (name == nullptr)
        return BACKUP_NOT_VERIFIED;
    file_cause cause = CAUSE_NONE;
    std::FILE *bak = open_for_read(name, &cause);
    backup_beside b = bak == nullptr && cause == CAUSE_MISSING ? BACKUP_NONE : BACKUP_NOT_VERIFIED;
    if (bak != nullptr && backup_verify(scanned, bak, name).result == RESULT_OK)
        b = BACKUP_VERIFIED;
    if (bak != nullptr)
        (void)close_file(bak);  // opened for reading: nothing to lose
    std::free(name);
    return b;
}

patch_outcome backup_prepare(const patch_target *scanned, backup_job *b)
{
    *b = backup_job{};
    file_cause cause = CAUSE_NONE;
    b->folder = held_folder_open(scanned->path, scanned->file, &cause);
    if (b->folder == nullptr)
        return cause == CAUSE_CHANGED ? outcome_of(RESULT_FILE_CHANGED, -1, cause) : backup_failed(cause);
    std::FILE *old = held_folder_read(b->folder, BACKUP_SUFFIX, &cause);
    if (old != nullptr) {
        char *name = held_folder_name(b->folder, BACKUP_SUFFIX);
        patch_outcome v = name != nullptr ? backup_verify(scanned, old, name) : backup_failed(CAUSE_NONE);
        std::free(name);
        (void)close_file(old);  // opened for reading: nothing to lose
        b->kept = v.result == RESULT_OK;
        // A second name of a kept backup, where naming it was cut off, goes;
        // anything else under the copy's name is not ours to remove.
        if (b->kept)
            (void)held_folder_clear(b->folder, BACKUP_PARTIAL_SUFFIX, BACKUP_SUFFIX, &cause);
        // A backup that cannot be read cannot be checked, and so is none.
        return v.result == RESULT_READ_FAILED ? outcome_of(RESULT_BACKUP_FAILED, -1, CAUSE_BACKUP_UNREADABLE) : v;
    }
    if (cause != CAUSE_MISSING)
        return backup_failed(cause);
    if (!held_folder_clear(b->folder, BACKUP_PARTIAL_SUFFIX, BACKUP_SUFFIX, &cause)
        || (b->copy = held_folder_create(b->folder, BACKUP_PARTIAL_SUFFIX, &cause)) == nullptr)
        return backup_failed(cause);
    error_clear();
    if (!copy_stream(scanned->file, b->copy) || sync_file(b->copy) != 0)
        return backup_failed(error_cause());
    return outcome_of(RESULT_OK);
}

patch_outcome backup_commit(backup_job *b)
{
    if (b->kept)
        return outcome_of(RESULT_OK);
    file_cause cause = CAUSE_NONE;
    bool on_disk = false;
    if (!held_folder_rename(b->folder, b->copy, BACKUP_PARTIAL_SUFFIX, BACKUP_SUFFIX, &on_disk, &cause))
        return backup_failed(cause);
    // FILE.bak is there, whole: said so even when its name may not yet be
    // on the disk, and then nothing is written.
    b->made = 1;
    (void)close_file(b->copy);  // whole and on the disk before it took the name
    b->copy = nullptr;
    return on_disk ? outcome_of(RESULT_OK) : backup_failed(cause);
}

void backup_release(backup_job *b)
{
    if (b->copy != nullptr) {
        held_folder_remove(b->folder, b->copy, BACKUP_PARTIAL_SUFFIX);
        (void)close_file(b->copy);  // going: nothing to lose
    }
    held_folder_close(b->folder);
    *b = backup_job{};
}
