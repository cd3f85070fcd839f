#include "patch/apply_patches.h"

#include <cstring>

#include "patch/close_file.h"
#include "patch/file_length.h"

namespace {

// One write the target asks for: `len` bytes at `ofs`, for site `site`.
struct site_write {
    site_id site;
    int32_t ofs;
    int32_t len;
    uint8_t bytes[MAX_BLOCK_LEN];
};

struct write_plan {
    site_write writes[SITE_COUNT];
    int count;
    bool wc06_kept;
};

void plan_block(write_plan *p, site_id site, int32_t ofs, const uint8_t *block)
{
    site_write &w = p->writes[p->count++];
    w.site = site;
    w.ofs = ofs;
    w.len = patch_catalogue[site].block_len;
    std::memcpy(w.bytes, block, static_cast<std::size_t>(w.len));
}

// The patched block with one parameter byte stored; the catalogue stays as it is.
void plan_patched(write_plan *p, site_id site, int32_t ofs, int32_t pos, int8_t value)
{
    plan_block(p, site, ofs, patch_catalogue[site].patched);
    p->writes[p->count - 1].bytes[pos] = static_cast<uint8_t>(value);
}

void plan_year(write_plan *p, site_id site, int32_t ofs, int16_t year)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(year & 0xff), static_cast<uint8_t>((year >> 8) & 0xff)};
    plan_block(p, site, ofs, bytes);
}

bool year_writable(int32_t ofs, int16_t year)
{
    return ofs > 0 && year >= 2000 && year < 30000;
}

write_plan plan_writes(const patch_target *t)
{
    write_plan p{};
    if (t->click_delay_ofs > 0) {
        if (t->click_delay >= 1 && t->click_delay <= 8)
            plan_patched(&p, SITE_CLICK_DELAY, t->click_delay_ofs, CLICK_DELAY_PARAM_POS, t->click_delay);
        else
            plan_block(&p, SITE_CLICK_DELAY, t->click_delay_ofs, patch_catalogue[SITE_CLICK_DELAY].unpatched);
    }
    if (year_writable(t->bosman_year_ofs, t->bosman_year))
        plan_year(&p, SITE_BOSMAN_YEAR, t->bosman_year_ofs, t->bosman_year);
    if (year_writable(t->start_year_ofs, t->start_year)) {
        plan_year(&p, SITE_START_YEAR, t->start_year_ofs, t->start_year);
        // The World Cup 06 fix follows the start year.
        if (t->wc06_ofs > 0) {
            if (t->start_year > 2002)
                plan_block(&p, SITE_WC06_FIX, t->wc06_ofs, patch_catalogue[SITE_WC06_FIX].patched);
            else if (t->wc06_original_known)
                plan_block(&p, SITE_WC06_FIX, t->wc06_ofs, t->wc06_original);
            else
                p.wc06_kept = true;
        }
    }
    if (t->exitgame_ofs > 0) {
        const site_entry &e = patch_catalogue[SITE_EXITGAME];
        plan_block(&p, SITE_EXITGAME, t->exitgame_ofs, t->exitgame_installed ? e.patched : e.unpatched);
    }
    if (t->conf_promoted_ofs > 0 && t->conf_counts_ofs > 0) {
        if (t->touch_conference) {
            plan_patched(&p, SITE_CONF_PROMOTED, t->conf_promoted_ofs, CONF_PROMOTED_PARAM_POS, t->promoted);
            plan_patched(&p, SITE_CONF_COUNTS, t->conf_counts_ofs, CONF_COUNTS_PROMOTED_POS, t->promoted);
            p.writes[p.count - 1].bytes[CONF_COUNTS_RELEGATED_POS] = static_cast<uint8_t>(t->relegated);
        } else {
            plan_block(&p, SITE_CONF_PROMOTED, t->conf_promoted_ofs, patch_catalogue[SITE_CONF_PROMOTED].unpatched);
            plan_block(&p, SITE_CONF_COUNTS, t->conf_counts_ofs, patch_catalogue[SITE_CONF_COUNTS].unpatched);
        }
    }
    return p;
}

// The file may have been replaced or changed since the scan: write only
// when it has the same length and every site to be written still sits
// behind its signature and holds something we recognise.
bool site_still_there(std::FILE *f, const site_write &w, int64_t size)
{
    const site_entry &e = patch_catalogue[w.site];
    int64_t start = static_cast<int64_t>(w.ofs) - e.sig_len;
    if (start < 0 || static_cast<int64_t>(w.ofs) + w.len > size)
        return false;
    uint8_t seen[MAX_SIG_LEN + 1];
    if (std::fseek(f, static_cast<long>(start), SEEK_SET) != 0)
        return false;
    std::size_t n = static_cast<std::size_t>(e.sig_len) + 1;
    if (std::fread(seen, 1, n, f) != n || std::memcmp(seen, e.sig, static_cast<std::size_t>(e.sig_len)) != 0)
        return false;
    if (e.kind == SITE_KIND_YEAR)
        return true;
    uint8_t first = seen[e.sig_len];
    return first == e.patched[0] || first == e.unpatched[0];
}

bool file_unchanged(std::FILE *f, const patch_target *t, const write_plan &p)
{
    int64_t size = file_length(f);
    if (size < 0 || size != t->file_size)
        return false;
    for (int i = 0; i < p.count; ++i)
        if (!site_still_there(f, p.writes[i], size))
            return false;
    return true;
}

bool write_site(std::FILE *f, const site_write &w)
{
    std::size_t n = static_cast<std::size_t>(w.len);
    return std::fseek(f, w.ofs, SEEK_SET) == 0 && std::fwrite(w.bytes, 1, n, f) == n;
}

} // namespace

int apply_patches(const patch_target *t)
{
    std::FILE *f = std::fopen(t->path, "rb+");
    if (f == nullptr)
        return APPLY_OPEN_FAILED;
    write_plan p = plan_writes(t);
    if (p.count > 0 && !file_unchanged(f, t, p)) {
        close_file(f);
        return APPLY_FILE_CHANGED;
    }
    bool ok = true;
    for (int i = 0; i < p.count && ok; ++i)
        ok = write_site(f, p.writes[i]);
    ok = (std::fflush(f) == 0) && ok;
    ok = (close_file(f) == 0) && ok;
    if (!ok)
        return APPLY_WRITE_FAILED;
    return p.wc06_kept ? APPLY_WC06_KEPT : APPLY_OK;
}

namespace {

struct result_text {
    int result;
    const char *text;
};

const result_text result_texts[] = {
    {APPLY_OK, "The changes were written."},
    {APPLY_OPEN_FAILED, "The file could not be opened for writing; nothing was written."},
    {APPLY_WRITE_FAILED, "Writing to the file failed; it may be only partly changed."},
    {APPLY_FILE_CHANGED, "The file has changed since it was read; nothing was written."},
    {APPLY_WC06_KEPT, "The World Cup 06 fix could not be removed: the game's original code "
                      "is not known. Everything else was written."},
};

} // namespace

const char *apply_result_message(int result)
{
    for (const result_text &r : result_texts)
        if (r.result == result)
            return r.text;
    return "Unknown result.";
}
