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

// conf_promoted may be written twice: see list_writes.
constexpr int MAX_WRITES = SITE_COUNT + 1;

// A disk keeps a sector whole, but a write that spans two can land in part.
// Each write therefore goes out in pieces that lie within one sector, each
// on the disk before the next: a power cut leaves a prefix of the pieces.
constexpr int64_t SECTOR = 512;
static_assert(MAX_BLOCK_LEN < SECTOR, "a block spans at most two sectors");
// Byte 0 alone, and the rest in at most two.
constexpr int MAX_PIECES = MAX_WRITES * 3;

// Bytes [from, to) of the plan's write `write`.
struct write_piece {
    int write;
    int32_t from;
    int32_t to;
};

struct write_plan {
    site_write writes[MAX_WRITES];
    int count;
    write_piece pieces[MAX_PIECES];
    int piece_count;
};

void plan_block(write_plan *p, site_id site, int32_t ofs, const uint8_t *block)
{
    site_write &w = p->writes[p->count++];
    w.site = site;
    w.ofs = ofs;
    w.len = patch_catalogue[site].block_len;
    std::memcpy(w.bytes, block, static_cast<std::size_t>(w.len));
}

// Whether the writer puts our block in at a block site.
bool writes_ours(const patch_target *t, int site)
{
    switch (site) {
    case SITE_WC06_FIX:  // follows the start year
        return t->start_year >= WC06_FIRST_YEAR;
    case SITE_CLICK_DELAY:
        return t->click_delay >= CLICK_DELAY_MIN && t->click_delay <= CLICK_DELAY_WRITE_MAX;
    case SITE_CONF_COUNTS:
    case SITE_CONF_PROMOTED:
        return t->touch_conference != 0;
    default:
        return t->*patch_catalogue[site].installed != 0;
    }
}

// The one write of each site but conf_promoted, in this order.
constexpr site_id write_order[] = {SITE_CLICK_DELAY, SITE_BOSMAN_YEAR, SITE_START_YEAR, SITE_WC06_FIX,
                                   SITE_EXITGAME,    SITE_CONF_COUNTS};

write_plan list_writes(const patch_target *t)
{
    write_plan p{};
    uint8_t bytes[MAX_BLOCK_LEN];
    for (site_id site : write_order) {
        if (!planned_site_bytes(t, site, bytes))
            continue;
        // The scan takes the game's conf_promoted block next to either
        // conf_counts block, but ours only next to a conf_counts that agrees.
        // So ours goes out before the counts change and comes back after
        // them: a run cut off between two writes leaves a pair the scan
        // still recognises and a later run can finish.
        if (site == SITE_CONF_COUNTS)
            plan_block(&p, SITE_CONF_PROMOTED, target_site_ofs(t, SITE_CONF_PROMOTED), patch_catalogue[SITE_CONF_PROMOTED].unpatched);
        plan_block(&p, site, target_site_ofs(t, site), bytes);
    }
    if (t->touch_conference && planned_site_bytes(t, SITE_CONF_PROMOTED, bytes))
        plan_block(&p, SITE_CONF_PROMOTED, target_site_ofs(t, SITE_CONF_PROMOTED), bytes);
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

// The window as the first `steps` pieces leave it, in `after`.
void lay_pieces(const write_plan &p, int steps, site_window *win)
{
    std::memcpy(win->after, win->before, static_cast<std::size_t>(win->len));
    const int64_t win_end = win->start + win->len;
    for (int j = 0; j < steps; ++j) {
        const site_write &w = p.writes[p.pieces[j].write];
        const int64_t piece_start = static_cast<int64_t>(w.ofs) + p.pieces[j].from;
        const int64_t piece_end = static_cast<int64_t>(w.ofs) + p.pieces[j].to;
        int64_t from = piece_start > win->start ? piece_start : win->start;
        int64_t to = piece_end < win_end ? piece_end : win_end;
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

// Pieces of bytes [from, to) of write `write`, cut at the sector boundaries.
void add_pieces(write_plan *p, int write, int32_t from, int32_t to)
{
    const int64_t ofs = p->writes[write].ofs;
    while (from < to) {
        const int64_t boundary = ((ofs + from) / SECTOR + 1) * SECTOR - ofs;
        const int32_t end = boundary < to ? static_cast<int32_t>(boundary) : to;
        p->pieces[p->piece_count++] = {write, from, end};
        from = end;
    }
}

// Byte 0 tells the scan which variant a block is, and only behind our byte 0
// does it read the rest (the parameters). So going to our code, byte 0 goes
// last, after the rest; going to the game's, first: every prefix of the
// pieces reads as the old variant or the new one, never as ours with a
// count half there.
void cut_pieces(write_plan *p)
{
    p->piece_count = 0;
    for (int i = 0; i < p->count; ++i) {
        const site_write &w = p->writes[i];
        const site_entry &e = patch_catalogue[w.site];
        if (e.kind == SITE_KIND_YEAR) {
            add_pieces(p, i, 0, w.len);
            continue;
        }
        const bool to_ours = w.bytes[0] == e.patched[0];
        if (!to_ours)
            add_pieces(p, i, 0, 1);
        add_pieces(p, i, 1, w.len);
        if (to_ours)
            add_pieces(p, i, 0, 1);
    }
}

bool occurs_at(const uint8_t *buf, int64_t at, const site_entry &e)
{
    return std::memcmp(buf + at, e.sig, static_cast<std::size_t>(e.sig_len)) == 0;
}

// A later scan must find every signature exactly where it is now, and so must
// a scan after a run cut off anywhere, inside a write too: no state the file
// passes through (a prefix of the pieces; an undo walks back through the
// same) may make a new occurrence or break one. Every window holds all the
// writes, so an occurrence near two writes gives the same answer in either
// window; none further off can change, and in the window what no write
// touches compares equal.
bool occurrences_kept(const write_plan &p, write_check *c)
{
    for (int steps = 1; steps <= p.piece_count; ++steps)
        for (int i = 0; i < p.count; ++i) {
            site_window &win = c->windows[i];
            lay_pieces(p, steps, &win);
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
    cut_pieces(p);
    return occurrences_kept(*p, c) ? RESULT_OK : RESULT_SITES_CLASH;
}

bool write_at(std::FILE *f, int32_t ofs, const uint8_t *data, int32_t len)
{
    auto n = static_cast<std::size_t>(len);
    return std::fseek(f, ofs, SEEK_SET) == 0 && std::fwrite(data, 1, n, f) == n;
}

// The bytes of a site as the first `steps` pieces leave it; from the
// window of the plan's write `write`, one of the site's writes, and valid
// until the next call for that write.
const uint8_t *site_after(const write_plan &p, int steps, int write, write_check *c)
{
    site_window &win = c->windows[write];
    lay_pieces(p, steps, &win);
    return win.after + (p.writes[write].ofs - win.start);
}

// Walks back over the first `done` pieces, latest first, each put back to
// what it held before it, and on the disk before the next: the undo passes
// through the very states the writes passed through, all checked, and so
// keeps the conference pair recognised (our counts go back before our
// promoted block does). A piece that cannot be written back stops the walk:
// going on would leave a state never checked, the same command finishes the
// one left. A failed sync does not stop it: the bytes are back for every
// reader, and only a power cut could lose them.
void undo_pieces(std::FILE *f, const write_plan &p, write_check *c, int done)
{
    for (int j = done - 1; j >= 0; --j) {
        std::clearerr(f);
        const write_piece &pc = p.pieces[j];
        const uint8_t *was = site_after(p, j, pc.write, c);
        if (!write_at(f, p.writes[pc.write].ofs + pc.from, was + pc.from, pc.to - pc.from))
            return;
        (void)sync_file(f);  // see above
    }
}

// What each planned site holds now, read back: its old bytes, its new ones
// (marked in `whole_new`), neither, or what could not be read (in `unread`);
// every one but the old goes into `unrestored`. And whether the conference
// blocks hold together a pair that some state on the way held.
void look_again(std::FILE *f, const write_plan &p, write_check *c, write_report *r)
{
    int seen = 0;
    int pair_write[2] = {-1, -1};
    uint8_t pair_now[2][MAX_BLOCK_LEN];
    bool pair_read = true;
    for (int i = 0; i < p.count; ++i) {
        const site_write &w = p.writes[i];
        const int bit = 1 << w.site;
        const auto n = static_cast<std::size_t>(w.len);
        if ((seen & bit) != 0)
            continue;
        seen |= bit;
        const int slot = w.site == SITE_CONF_COUNTS ? 0 : w.site == SITE_CONF_PROMOTED ? 1 : -1;
        uint8_t now[MAX_BLOCK_LEN] = {};
        std::clearerr(f);
        const bool read = std::fseek(f, w.ofs, SEEK_SET) == 0 && std::fread(now, 1, n, f) == n;
        if (slot >= 0) {
            pair_write[slot] = i;
            pair_read = pair_read && read;
            std::memcpy(pair_now[slot], now, n);
        }
        if (!read)
            r->unread |= bit;
        else if (std::memcmp(now, site_after(p, 0, i, c), n) == 0)
            continue;
        else if (std::memcmp(now, site_after(p, p.piece_count, i, c), n) == 0)
            r->whole_new |= bit;
        r->unrestored |= bit;
    }
    if (pair_write[0] < 0 || pair_write[1] < 0)
        return;
    // Some one state on the way must have held both blocks as they are.
    bool together = false;
    for (int steps = 0; pair_read && !together && steps <= p.piece_count; ++steps) {
        together = true;
        for (int k = 0; k < 2; ++k)
            together = together && std::memcmp(pair_now[k], site_after(p, steps, pair_write[k], c),
                                               static_cast<std::size_t>(p.writes[pair_write[k]].len)) == 0;
    }
    r->pair_may_differ = !together;
}

} // namespace

bool planned_site_bytes(const patch_target *t, int site, uint8_t out[MAX_BLOCK_LEN])
{
    const site_entry &e = patch_catalogue[site];
    if (!target_site_usable(t, site) || (e.kind == SITE_KIND_PAIR && !conference_usable(t)))
        return false;
    if (e.kind == SITE_KIND_YEAR) {
        const int16_t year = t->*e.year;
        out[0] = static_cast<uint8_t>(year & 0xff);
        out[1] = static_cast<uint8_t>((year >> 8) & 0xff);
        return year >= YEAR_MIN && year <= YEAR_MAX;
    }
    // The World Cup 06 fix goes only with the start year, and the game's
    // block only when the scan saw it whole in the file.
    if (site == SITE_WC06_FIX && !planned_site_bytes(t, SITE_START_YEAR, out))
        return false;
    const bool ours = writes_ours(t, site);
    const uint8_t *block = ours ? e.patched : e.unpatched;
    if (site == SITE_WC06_FIX && !ours)
        block = t->wc06_original_known ? t->wc06_original : nullptr;
    if (block == nullptr)
        return false;
    std::memcpy(out, block, static_cast<std::size_t>(e.block_len));
    for (int k = 0; ours && k < e.param_count; ++k)
        out[e.params[k].pos] = static_cast<uint8_t>(t->*e.params[k].field);
    return true;
}

int planned_changes(const patch_target *t)
{
    int changes = 0;
    uint8_t bytes[MAX_BLOCK_LEN];
    for (int site = 0; site < SITE_COUNT; ++site)
        if (planned_site_bytes(t, site, bytes)
            && std::memcmp(bytes, t->seen[site].bytes, static_cast<std::size_t>(patch_catalogue[site].block_len)) != 0)
            changes |= 1 << site;
    return changes;
}

patch_result check_before_write(const patch_target *t)
{
    write_plan p = list_writes(t);
    if (p.count == 0)
        return RESULT_OK;
    // Read through the scan's own handle: the name may be another file by now.
    write_check c{};
    return check_file(t->file, t, &p, &c);
}

patch_result apply_patches(const patch_target *t, write_report *report)
{
    write_report unused{};
    write_report *r = report != nullptr ? report : &unused;
    *r = write_report{};
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
    write_plan p = list_writes(t);
    write_check c{};
    if (p.count > 0) {
        patch_result checked = check_file(f, t, &p, &c);
        if (checked != RESULT_OK) {
            (void)close_file(f);  // nothing written: nothing to lose
            return checked;
        }
    }
    int done = 0;
    bool ok = true;
    error_clear();
    while (done < p.piece_count && ok) {
        const write_piece &pc = p.pieces[done++];
        const site_write &w = p.writes[pc.write];
        ok = write_at(f, w.ofs + pc.from, w.bytes + pc.from, pc.to - pc.from) && sync_file(f) == 0;
    }
    // A failed write may have left part of a piece; what is known to have
    // gone wrong is undone at once, through the handle still open, and what
    // each site holds then is read back. The cause is taken first: the
    // undo's calls may report errors of their own.
    if (!ok) {
        r->cause = error_cause();
        undo_pieces(f, p, &c, done);
        look_again(f, p, &c, r);
    }
    bool closed = close_file(f) == 0;
    if (ok && closed)
        return RESULT_OK;
    if (!ok)
        return r->unrestored == 0 ? RESULT_WRITE_UNDONE : RESULT_WRITE_FAILED;
    // Every piece was on the disk before the close failed: each site whose
    // bytes change holds its new ones.
    for (int i = 0; i < p.count; ++i) {
        const site_window &win = c.windows[i];
        if (std::memcmp(win.before + (p.writes[i].ofs - win.start), site_after(p, p.piece_count, i, &c),
                        static_cast<std::size_t>(p.writes[i].len)) != 0)
            r->unrestored |= 1 << p.writes[i].site;
    }
    r->whole_new = r->unrestored;
    return RESULT_WRITE_FAILED;
}
