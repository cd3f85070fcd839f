#include "patch/apply_patches.h"

#include <cstring>

#include "patch/file_io.h"
#include "patch/rules.h"

namespace {

// One write the target asks for: `len` bytes at `ofs`, for site `site`.
struct site_write {
    site_id site;
    int32_t ofs;
    int32_t len;
    uint8_t bytes[MAX_BLOCK_LEN];
};

// conf_promoted may be written twice: see plan_writes.
constexpr int MAX_WRITES = SITE_COUNT + 1;

struct write_plan {
    site_write writes[MAX_WRITES];
    int count;
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
    return site_usable(ofs) && year >= YEAR_MIN && year <= YEAR_MAX;
}

write_plan plan_writes(const patch_target *t)
{
    write_plan p{};
    if (site_usable(t->click_delay_ofs)) {
        if (t->click_delay >= CLICK_DELAY_MIN && t->click_delay <= CLICK_DELAY_WRITE_MAX)
            plan_patched(&p, SITE_CLICK_DELAY, t->click_delay_ofs, CLICK_DELAY_PARAM_POS, t->click_delay);
        else
            plan_block(&p, SITE_CLICK_DELAY, t->click_delay_ofs, patch_catalogue[SITE_CLICK_DELAY].unpatched);
    }
    if (year_writable(t->bosman_year_ofs, t->bosman_year))
        plan_year(&p, SITE_BOSMAN_YEAR, t->bosman_year_ofs, t->bosman_year);
    if (year_writable(t->start_year_ofs, t->start_year)) {
        plan_year(&p, SITE_START_YEAR, t->start_year_ofs, t->start_year);
        // The World Cup 06 fix follows the start year.
        if (site_usable(t->wc06_ofs)) {
            if (t->start_year >= WC06_FIRST_YEAR)
                plan_block(&p, SITE_WC06_FIX, t->wc06_ofs, patch_catalogue[SITE_WC06_FIX].patched);
            else if (t->wc06_original_known)
                plan_block(&p, SITE_WC06_FIX, t->wc06_ofs, t->wc06_original);
            // Else the game's block is unknown: the plan never asks for it,
            // and the read-back would find the site unchanged.
        }
    }
    if (site_usable(t->exitgame_ofs)) {
        const site_entry &e = patch_catalogue[SITE_EXITGAME];
        plan_block(&p, SITE_EXITGAME, t->exitgame_ofs, t->exitgame_installed ? e.patched : e.unpatched);
    }
    if (conference_usable(t)) {
        // The scan takes the game's conf_promoted block next to either
        // conf_counts block, but ours only next to a conf_counts that agrees.
        // So ours goes out before the counts change and comes back after
        // them: a run cut off between two writes leaves a pair the scan
        // still recognises and a later run can finish.
        const site_entry &prom = patch_catalogue[SITE_CONF_PROMOTED];
        plan_block(&p, SITE_CONF_PROMOTED, t->conf_promoted_ofs, prom.unpatched);
        if (t->touch_conference) {
            plan_patched(&p, SITE_CONF_COUNTS, t->conf_counts_ofs, CONF_COUNTS_PROMOTED_POS, t->promoted);
            p.writes[p.count - 1].bytes[CONF_COUNTS_RELEGATED_POS] = static_cast<uint8_t>(t->relegated);
            plan_patched(&p, SITE_CONF_PROMOTED, t->conf_promoted_ofs, CONF_PROMOTED_PARAM_POS, t->promoted);
        } else {
            plan_block(&p, SITE_CONF_COUNTS, t->conf_counts_ofs, patch_catalogue[SITE_CONF_COUNTS].unpatched);
        }
    }
    return p;
}

// The bytes around one write as they are in the file and as they will be:
// the site's signature before it, and room on both sides for any signature
// occurrence that the write could make or break.
constexpr int64_t MARGIN = MAX_SIG_LEN;
constexpr int32_t WINDOW_MAX = static_cast<int32_t>(MARGIN) + MAX_BLOCK_LEN + static_cast<int32_t>(MARGIN);

struct site_window {
    int64_t start;  // file offset of before[0]
    int32_t len;
    uint8_t before[WINDOW_MAX];
    uint8_t after[WINDOW_MAX];
};

struct write_check {
    site_window windows[MAX_WRITES];
};

int64_t write_end(const site_write &w)
{
    return static_cast<int64_t>(w.ofs) + w.len;
}

// The site's bytes and the margins around it as far as the file has them;
// false on a read error.
bool read_window(std::FILE *f, const site_write &w, int64_t size, site_window *win)
{
    int64_t start = w.ofs - MARGIN > 0 ? w.ofs - MARGIN : 0;
    int64_t end = write_end(w) + MARGIN < size ? write_end(w) + MARGIN : size;
    win->start = start;
    win->len = static_cast<int32_t>(end - start);
    auto n = static_cast<std::size_t>(win->len);
    return std::fseek(f, static_cast<long>(start), SEEK_SET) == 0 && std::fread(win->before, 1, n, f) == n;
}

// The site still sits behind its signature and holds what the scan saw: a
// value that another program wrote since is never written over.
bool site_still_there(const patch_target *t, const site_write &w, const site_window &win)
{
    const site_entry &e = patch_catalogue[w.site];
    const uint8_t *at = win.before + (w.ofs - win.start);
    return std::memcmp(at - e.sig_len, e.sig, static_cast<std::size_t>(e.sig_len)) == 0
           && std::memcmp(at, t->seen[w.site].bytes, static_cast<std::size_t>(w.len)) == 0;
}

// The first `steps` writes that reach into the window, put into `after`.
void apply_in_window(const write_plan &p, int steps, site_window *win)
{
    std::memcpy(win->after, win->before, static_cast<std::size_t>(win->len));
    const int64_t win_end = win->start + win->len;
    for (int j = 0; j < steps; ++j) {
        const site_write &w = p.writes[j];
        int64_t from = w.ofs > win->start ? w.ofs : win->start;
        int64_t to = write_end(w) < win_end ? write_end(w) : win_end;
        for (int64_t k = from; k < to; ++k)
            win->after[k - win->start] = w.bytes[k - w.ofs];
    }
}

// Our conf_promoted block that already holds the count it is to hold need
// not go out and come back: the counts change next to it in one write, and
// no state on the way passes through the game's block.
void skip_round_trip(write_plan *p, write_check *c)
{
    int first = -1;
    int last = -1;
    for (int i = 0; i < p->count; ++i)
        if (p->writes[i].site == SITE_CONF_PROMOTED) {
            first = first < 0 ? i : first;
            last = i;
        }
    if (first == last)
        return;
    const site_window &win = c->windows[first];
    const site_write &final_write = p->writes[last];
    if (std::memcmp(win.before + (final_write.ofs - win.start), final_write.bytes,
                    static_cast<std::size_t>(final_write.len)) != 0)
        return;
    for (int i = first; i + 1 < p->count; ++i) {
        p->writes[i] = p->writes[i + 1];
        c->windows[i] = c->windows[i + 1];
    }
    --p->count;
}

bool occurs_at(const uint8_t *buf, int64_t at, const site_entry &e)
{
    return std::memcmp(buf + at, e.sig, static_cast<std::size_t>(e.sig_len)) == 0;
}

// A later scan must find every signature exactly where it is now, and so must
// a scan after a run cut off between two writes: no state the file passes
// through may make a new occurrence or break one. Every window holds all the
// writes, so an occurrence near two writes gives the same answer in either
// window; none further off can change, and in the window what no write
// touches compares equal.
bool occurrences_kept(const write_plan &p, write_check *c)
{
    for (int steps = 1; steps <= p.count; ++steps)
        for (int i = 0; i < p.count; ++i) {
            site_window &win = c->windows[i];
            apply_in_window(p, steps, &win);
            for (const site_entry &e : patch_catalogue)
                for (int64_t at = 0; at + e.sig_len <= win.len; ++at) {
                    if (win.start + at + e.sig_len > INT32_MAX)
                        break;  // beyond what the search reads
                    if (occurs_at(win.before, at, e) != occurs_at(win.after, at, e))
                        return false;
                }
        }
    return true;
}

// RESULT_OK when every write may go ahead, else why not.
patch_result check_file(std::FILE *f, const patch_target *t, write_plan *p, write_check *c)
{
    int64_t size = file_length(f);
    if (size < 0 || size != t->file_size)
        return RESULT_FILE_CHANGED;
    for (int i = 0; i < p->count; ++i) {
        const site_write &w = p->writes[i];
        // Only where the scan offers a site, which lies inside the file.
        if (w.ofs != t->seen[w.site].ofs)
            return RESULT_FILE_CHANGED;
        if (!read_window(f, w, size, &c->windows[i]))
            return RESULT_READ_FAILED;
        if (!site_still_there(t, w, c->windows[i]))
            return RESULT_FILE_CHANGED;
    }
    skip_round_trip(p, c);
    // Sites that share a byte are none the scan offers: the writes are apart.
    return occurrences_kept(*p, c) ? RESULT_OK : RESULT_SITES_CLASH;
}

bool write_at(std::FILE *f, int32_t ofs, const uint8_t *data, int32_t len)
{
    auto n = static_cast<std::size_t>(len);
    return std::fseek(f, ofs, SEEK_SET) == 0 && std::fwrite(data, 1, n, f) == n;
}

// Puts back what the first `count` writes replaced, latest first, each on its
// own: one that fails (a full disk, say) does not keep the others from being
// tried. Marks in `r` every site that could not be put back.
void undo_writes(std::FILE *f, const write_plan &p, const write_check &c, int count, write_report *r)
{
    for (int i = count - 1; i >= 0; --i) {
        std::clearerr(f);
        const site_write &w = p.writes[i];
        const site_window &win = c.windows[i];
        if (!write_at(f, w.ofs, win.before + (w.ofs - win.start), w.len))
            r->unrestored |= 1 << w.site;
    }
}

// What each site that could not be put back holds now, each site by the last
// write to it: its old bytes after all (the failed write moved none), the new
// ones whole (marked in `whole_new`), or a mix. Unreadable ones stay in doubt.
void look_again(std::FILE *f, const write_plan &p, const write_check &c, int count, write_report *r)
{
    int seen = 0;
    for (int i = count - 1; i >= 0; --i) {
        const site_write &w = p.writes[i];
        const int bit = 1 << w.site;
        const auto n = static_cast<std::size_t>(w.len);
        uint8_t now[MAX_BLOCK_LEN];
        std::clearerr(f);
        if ((r->unrestored & bit) == 0 || (seen & bit) != 0 || std::fseek(f, w.ofs, SEEK_SET) != 0
            || std::fread(now, 1, n, f) != n)
            continue;
        seen |= bit;
        if (std::memcmp(now, c.windows[i].before + (w.ofs - c.windows[i].start), n) == 0)
            r->unrestored &= ~bit;
        else if (std::memcmp(now, w.bytes, n) == 0)
            r->whole_new |= bit;
    }
}

} // namespace

patch_result check_before_write(const patch_target *t)
{
    write_plan p = plan_writes(t);
    if (p.count == 0)
        return RESULT_OK;
    // Read through the scan's own handle: the name may be another file by now.
    write_check c{};
    return check_file(t->file, t, &p, &c);
}

patch_result apply_patches(const patch_target *t)
{
    write_report r{};
    return write_patches(t, &r);
}

patch_result write_patches(const patch_target *t, write_report *r)
{
    r->unrestored = 0;
    r->whole_new = 0;
    r->cause = CAUSE_NONE;
    std::FILE *f = open_for_update(t->path, &r->cause);
    if (f == nullptr)
        return RESULT_WRITE_OPEN_FAILED;
    // Only the very file that was scanned is written, whatever its name
    // leads to by now.
    if (!same_file(f, t->file)) {
        (void)close_file(f);  // nothing written: nothing to lose
        r->cause = CAUSE_CHANGED;
        return RESULT_FILE_CHANGED;
    }
    write_plan p = plan_writes(t);
    write_check c{};
    if (p.count > 0) {
        patch_result checked = check_file(f, t, &p, &c);
        if (checked != RESULT_OK) {
            (void)close_file(f);  // nothing written: nothing to lose
            return checked;
        }
    }
    // Each write is on the disk before the next one starts: a power cut can
    // only stop the run between two of them, as a kill does, and never leave
    // a later write without an earlier one.
    int done = 0;
    bool ok = true;
    error_clear();
    while (done < p.count && ok) {
        const site_write &w = p.writes[done++];
        ok = write_at(f, w.ofs, w.bytes, w.len) && sync_file(f) == 0;
    }
    // A failed write may have left part of a site; what is known to have
    // gone wrong is undone at once, through the handle still open. The
    // cause is taken first: the undo's calls may report errors of their own.
    if (!ok) {
        r->cause = error_cause();
        undo_writes(f, p, c, done, r);
        look_again(f, p, c, done, r);
    }
    bool undone = !ok && r->unrestored == 0 && sync_file(f) == 0;
    bool closed = close_file(f) == 0;
    if (ok && closed)
        return RESULT_OK;
    if (undone)
        return RESULT_WRITE_UNDONE;  // on the disk before the close: a failed close loses nothing
    // Only the sites written can be other than they were. After a whole run
    // on the disk a failed close leaves each of them new; after a failed undo
    // nothing more is known of them than look_again found.
    if (r->unrestored == 0) {
        for (int i = 0; i < done; ++i)
            r->unrestored |= 1 << p.writes[i].site;
        r->whole_new = ok ? r->unrestored : 0;
    }
    return RESULT_WRITE_FAILED;
}
