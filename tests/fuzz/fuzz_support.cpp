#include "fuzz.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "patch/file_io.h"

std::string fuzz_input_name;

void fuzz_check(bool ok, const char *what, fuzz_where at)
{
    if (ok)
        return;
    std::fprintf(stderr, "%s:%d: %s (input %s)\n", at.file, at.line, what, fuzz_input_name.c_str());
    std::abort();
}

uint32_t take(fuzz_input *in, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n && in->pos < in->size; ++i)
        v |= static_cast<uint32_t>(in->data[in->pos++]) << (8 * i);
    return v;
}

namespace {

constexpr int64_t W = 65536;
enum plant_kind : uint32_t { PLANT_GAME, PLANT_PATCHED, PLANT_BYTE0, PLANT_SIG, PLANT_SIG_PREFIX, PLANT_SIG_SUFFIX };
enum anchor_kind : uint32_t { ANCHOR_ANYWHERE, ANCHOR_WINDOW_EDGE, ANCHOR_FILE_END, ANCHOR_AFTER_PREV, ANCHOR_IN_PREV };

// The scan rules: how many bytes follow each signature, and byte 0 of the
// game's block and of ours.
const int64_t block_len[SITE_COUNT] = {2, 110, 2, 29, 5, 24, 25};
const int game_first[SITE_COUNT] = {-1, 0x8b, -1, 0x66, 0x8d, 0x88, 0x88};
const int our_first[SITE_COUNT] = {-1, 0xb2, -1, 0x85, 0xe9, 0xc7, 0xc7};

patch_target reference_scan(const bytes &image)
{
    const auto size = static_cast<int64_t>(image.size());
    auto at = [&](int64_t o) { return static_cast<int>(image[static_cast<std::size_t>(o)]); };
    int64_t first[SITE_COUNT], ofs[SITE_COUNT];
    for (int s = 0; s < SITE_COUNT; ++s) {
        const site_entry &e = patch_catalogue[s];
        const std::vector<int64_t> hits = reference_search(image, bytes(e.sig, e.sig + e.sig_len));
        first[s] = hits.empty() ? -1 : hits[0];
        // Exactly once, with all its bytes in the file and in reach of a signed 32-bit offset.
        const bool whole = first[s] + e.sig_len + block_len[s] <= std::min<int64_t>(size, INT32_MAX);
        ofs[s] = hits.size() == 1 && whole ? first[s] + e.sig_len : -1;
    }
    // Byte 0 of each site: 1 ours, 0 the game's (a year: always), 2 neither,
    // -1 no site. Sites that share bytes are none: writing one would change
    // the other.
    int state[SITE_COUNT];
    for (int a = 0; a < SITE_COUNT; ++a) {
        const int b0 = ofs[a] > 0 ? at(ofs[a]) : -1;
        state[a] = ofs[a] < 0 ? -1 : b0 == our_first[a] ? 1 : b0 == game_first[a] || block_len[a] == 2 ? 0 : 2;
        for (int b = 0; b < SITE_COUNT; ++b)
            if (b != a && ofs[a] > 0 && ofs[b] > 0 && first[a] < ofs[b] + block_len[b] && first[b] < ofs[a] + block_len[a])
                state[a] = -1;
    }
    auto found = [&](int s, bool also = true) { return also && (state[s] == 0 || state[s] == 1) ? static_cast<int32_t>(ofs[s]) : -1; };
    auto year = [&](int s) { return static_cast<int16_t>(state[s] < 0 ? 0 : at(ofs[s]) | at(ofs[s] + 1) << 8); };
    const int click = state[SITE_CLICK_DELAY], delay = click == 1 ? at(ofs[SITE_CLICK_DELAY] + param_pos(SITE_CLICK_DELAY)) : 0;
    // The conference blocks count only as a pair whose counts agree; our
    // counts next to the game's promoted block (a change cut off) give theirs.
    const int promoted = state[SITE_CONF_PROMOTED], counts = state[SITE_CONF_COUNTS];
    const int count = (promoted == 0 || promoted == 1) && counts == 1 ? at(ofs[SITE_CONF_COUNTS] + param_pos(SITE_CONF_COUNTS)) : 0;
    const bool pair = (promoted == 0 && counts != 1)
                      || (count >= 1 && count <= 7 && (promoted == 0 || at(ofs[SITE_CONF_PROMOTED] + param_pos(SITE_CONF_PROMOTED)) == count));

    patch_target r{};
    r.file_size = size;
    r.start_year_ofs = found(SITE_START_YEAR), r.start_year = year(SITE_START_YEAR);
    r.bosman_year_ofs = found(SITE_BOSMAN_YEAR), r.bosman_year = year(SITE_BOSMAN_YEAR);
    r.wc06_ofs = found(SITE_WC06_FIX);
    r.wc06_installed = state[SITE_WC06_FIX] == 1, r.wc06_original_known = state[SITE_WC06_FIX] == 0;
    if (r.wc06_original_known)
        std::memcpy(r.wc06_original, &image[static_cast<std::size_t>(r.wc06_ofs)], WC06_BLOCK_LEN);
    r.click_delay_ofs = found(SITE_CLICK_DELAY);
    r.click_delay = static_cast<int8_t>(delay >= 1 && delay <= 6 ? delay : click >= 1 ? -2 : -1);
    r.exitgame_ofs = found(SITE_EXITGAME), r.exitgame_installed = state[SITE_EXITGAME] == 1;
    r.conf_counts_ofs = pair ? found(SITE_CONF_COUNTS) : -1, r.conf_promoted_ofs = found(SITE_CONF_PROMOTED, pair);
    r.promoted = static_cast<int8_t>(count >= 1 && count <= 7 ? count : 1);
    r.relegated = static_cast<int8_t>(state[SITE_CONF_COUNTS] == 1 ? at(ofs[SITE_CONF_COUNTS] + param_pos(SITE_CONF_COUNTS, 1)) : 3);
    // A block is damaged when a byte after byte 0 is not that variant's, but
    // for the parameters and the game's World Cup 06 bytes from 64 on.
    for (int s = 0; s < SITE_COUNT; ++s) {
        const uint8_t *want = state[s] == 1 ? patch_catalogue[s].patched : patch_catalogue[s].unpatched;
        const int64_t known = state[s] == 0 && s == SITE_WC06_FIX ? 64 : block_len[s];
        for (int64_t i = 1; block_len[s] > 2 && state[s] >= 0 && state[s] <= 1 && i < known; ++i)
            if (at(ofs[s] + i) != want[i] && (state[s] == 0 || !site_is_parameter(s, static_cast<int32_t>(i))))
                r.damaged |= 1 << s;
    }
    return r;
}

std::vector<int64_t> scan_fields(const patch_target &r)
{
    int64_t damage = 0;  // counts only in a site that is there
    for (int s = 0; s < SITE_COUNT; ++s)
        damage |= target_site_ofs(&r, s) > 0 ? r.damaged & (1 << s) : 0;
    return {r.start_year_ofs,  r.start_year,      r.wc06_ofs,          r.wc06_installed,    r.wc06_original_known,
            r.bosman_year_ofs, r.bosman_year,     r.click_delay_ofs,   r.click_delay,       r.exitgame_ofs,
            r.exitgame_installed, r.conf_counts_ofs, r.conf_promoted_ofs, r.promoted, r.relegated,
            r.touch_conference, r.file_size, damage};
}

} // namespace

bytes build_image(fuzz_input *in)
{
    const uint32_t mode = take(in, 1), fill = mode / 4 % 4;
    if (mode >= 0xe0)
        return bytes(in->data + in->pos, in->data + in->size);
    const int64_t size = mode % 4 == 0   ? take(in, 1) % 128
                         : mode % 4 == 1 ? take(in, 2) % 8192
                                         : W * (mode % 4 - 1) - 1024 + take(in, 2) % 2048;
    // Zeros (the wc06_fix signature starts with two), NOPs (as in several
    // signatures), random bytes (splitmix64), or a byte from the input.
    bytes image(static_cast<std::size_t>(size), fill == 1 ? 0x90 : 0);
    uint64_t state = fill == 2 ? take(in, 4) : 0;
    const auto filler = static_cast<uint8_t>(fill == 3 ? take(in, 1) : 0);
    for (std::size_t i = 0; fill >= 2 && i < image.size(); ++i) {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        image[i] = fill == 2 ? static_cast<uint8_t>(z ^ (z >> 31)) : filler;
    }

    int64_t prev_end = 0, prev_site = 0;
    const uint32_t pieces = take(in, 1) % 17;
    for (uint32_t i = 0; i < pieces && in->pos < in->size; ++i) {
        const auto site = static_cast<int>(take(in, 1) % SITE_COUNT);
        const uint32_t kind = take(in, 1) % 6, anchor = take(in, 1) % 5;
        const auto delta = static_cast<int8_t>(take(in, 1));
        const auto p0 = static_cast<uint8_t>(take(in, 1)), p1 = static_cast<uint8_t>(take(in, 1));
        // A signature, or its first or last bytes alone, and what follows it:
        // the year p1:p0, our block with its parameter p0 (conf_counts: and
        // p1), or the known part of the game's block, byte 0 p0 for PLANT_BYTE0.
        const site_entry &e = patch_catalogue[site];
        const int32_t cut = 1 + p1 % (e.sig_len - 1);
        bytes piece(e.sig + (kind == PLANT_SIG_SUFFIX ? cut : 0), e.sig + (kind == PLANT_SIG_PREFIX ? cut : e.sig_len));
        const std::size_t sig_part = piece.size();
        const bool year = e.kind == SITE_KIND_YEAR, ours = kind == PLANT_PATCHED && !year;
        const uint8_t *block = ours ? e.patched : e.unpatched;
        if (kind < PLANT_SIG && year)
            piece.insert(piece.end(), {p0, p1});
        else if (kind < PLANT_SIG)
            piece.insert(piece.end(), block, block + (ours ? e.block_len : e.unpatched_known));
        for (int k = 0; ours && k < e.param_count; ++k)
            piece[sig_part + param_pos(site, k)] = k == 0 ? p0 : p1;
        if (kind == PLANT_BYTE0 && !year)
            piece[sig_part] = p0;
        const auto len = static_cast<int64_t>(piece.size());
        const int64_t start = anchor == ANCHOR_ANYWHERE      ? (size > 0 ? take(in, 3) % size : 0)
                              : anchor == ANCHOR_WINDOW_EDGE ? W * (1 + take(in, 1) % 2) - static_cast<int64_t>(sig_part) + delta
                              : anchor == ANCHOR_FILE_END    ? size - len + delta
                              : anchor == ANCHOR_AFTER_PREV  ? prev_end + delta
                                                             : prev_site + delta;
        for (int64_t k = std::max<int64_t>(0, -start); k < len && start + k < size; ++k)
            image[static_cast<std::size_t>(start + k)] = piece[static_cast<std::size_t>(k)];
        prev_end = start + len;
        prev_site = start + static_cast<int64_t>(sig_part);
    }
    return image;
}

const char *scratch_file(const bytes &data)
{
    static const std::string path = (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm")
                                                                    : std::filesystem::temp_directory_path().string())
                                    + "/zandor-fuzz-" + std::to_string(getpid());
    static const int removed_at_exit = std::atexit([] { std::remove(path.c_str()); });
    fuzz_check(removed_at_exit == 0 && write_file(path, data), "cannot write the scratch file");
    return path.c_str();
}

std::vector<int64_t> reference_search(const bytes &image, const bytes &sig)
{
    std::vector<int64_t> hits;
    const int64_t last = std::min<int64_t>(static_cast<int64_t>(image.size()), INT32_MAX) - static_cast<int64_t>(sig.size());
    for (int64_t i = 0; i <= last; ++i)
        if (image[static_cast<std::size_t>(i)] == sig[0] && std::memcmp(&image[static_cast<std::size_t>(i)], sig.data(), sig.size()) == 0)
            hits.push_back(i);
    return hits;
}

patch_target *scan_checked(const char *path, const bytes &image, fuzz_where at)
{
    patch_target *t = open_target(path);
    fuzz_check(t != nullptr, "a regular file was not opened", at);
    scan_target(t);
    const patch_target want = reference_scan(image);
    const std::vector<int64_t> got = scan_fields(*t), expected = scan_fields(want);
    for (std::size_t i = 0; i < got.size(); ++i)
        fuzz_check(got[i] == expected[i], ("scan field " + std::to_string(i) + " is not the reference's").c_str(), at);
    fuzz_check(std::memcmp(t->wc06_original, want.wc06_original, WC06_BLOCK_LEN) == 0, "the wc06 original differs", at);
    return t;
}
