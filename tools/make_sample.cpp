// make_sample: writes a synthetic game image for tests and demos.
//
//   make_sample OUT [--size N] [--seed S] [--site NAME=STATE[@AT[,AT2]][:P[,P2]]]...
//
// Every site starts in the game's state at a place the maker picks. STATE is
// absent, game, patched, unrecognised, duplicated or truncated. AT is the
// offset of the signature's first byte (AT2: the second copy of a duplicated
// site). P and P2 are the parameters: the year of a year site; the delay of
// click_delay; promoted (and relegated) of conf_counts; promoted of
// conf_promoted; byte 0 of an unrecognised block.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "tools/sample_image.h"

namespace {

const char usage_text[] =
    "usage: make_sample OUT [--size N] [--seed S] "
    "[--site NAME=STATE[@AT[,AT2]][:P[,P2]]]...\n"
    "  NAME  start_year wc06_fix bosman_year click_delay exitgame conf_counts conf_promoted\n"
    "  STATE absent game patched unrecognised duplicated truncated\n";

const char *const state_names[] = {"absent",       "game",       "patched",
                                   "unrecognised", "duplicated", "truncated"};
static_assert(std::size(state_names) == SAMPLE_TRUNCATED + 1, "a name for every sample_state");

// Parses a whole decimal or 0x-prefixed number; `end` is where it must stop.
bool parse_number(const char *text, const char *end, long long *out)
{
    if (text == end)
        return false;
    char digits[32];
    size_t n = static_cast<size_t>(end - text);
    if (n >= sizeof digits)
        return false;
    std::memcpy(digits, text, n);
    digits[n] = '\0';
    errno = 0;
    char *stop = nullptr;
    long long v = std::strtoll(digits, &stop, 0);
    if (errno != 0 || *stop != '\0')
        return false;
    *out = v;
    return true;
}

// One number, or two separated by a comma.
bool parse_pair(const char *text, const char *end, long long *a, long long *b, bool *has_b)
{
    const char *comma = static_cast<const char *>(std::memchr(text, ',', static_cast<size_t>(end - text)));
    *has_b = comma != nullptr;
    if (comma == nullptr)
        return parse_number(text, end, a);
    return parse_number(text, comma, a) && parse_number(comma + 1, end, b);
}

int find_site(const char *name, size_t len)
{
    for (int i = 0; i < SITE_COUNT; ++i)
        if (std::strlen(patch_catalogue[i].name) == len
            && std::strncmp(patch_catalogue[i].name, name, len) == 0)
            return i;
    return -1;
}

int find_state(const char *name, size_t len)
{
    for (int i = 0; i < static_cast<int>(sizeof state_names / sizeof state_names[0]); ++i)
        if (std::strlen(state_names[i]) == len && std::strncmp(state_names[i], name, len) == 0)
            return i;
    return -1;
}

bool parse_site(const char *arg, sample_recipe *recipe)
{
    const char *eq = std::strchr(arg, '=');
    if (eq == nullptr)
        return false;
    int site = find_site(arg, static_cast<size_t>(eq - arg));
    if (site < 0)
        return false;
    const char *state = eq + 1;
    const char *at = std::strchr(state, '@');
    const char *colon = std::strchr(state, ':');
    if (at != nullptr && colon != nullptr && at > colon)
        return false;
    const char *state_end = at != nullptr ? at : colon != nullptr ? colon : state + std::strlen(state);
    int st = find_state(state, static_cast<size_t>(state_end - state));
    if (st < 0)
        return false;
    sample_site &s = recipe->site[site];
    s.state = static_cast<sample_state>(st);

    if (at != nullptr) {
        const char *at_end = colon != nullptr ? colon : at + std::strlen(at);
        long long a = 0, b = 0;
        bool has_b = false;
        if (!parse_pair(at + 1, at_end, &a, &b, &has_b) || a < 0 || (has_b && b < 0))
            return false;
        s.at = a;
        if (has_b)
            s.at2 = b;
    }
    if (colon != nullptr) {
        long long p = 0, p2 = 0;
        bool has_p2 = false;
        if (!parse_pair(colon + 1, colon + std::strlen(colon), &p, &p2, &has_p2))
            return false;
        if (s.state == SAMPLE_UNRECOGNISED) {
            if (p < 0 || p > 255 || has_p2)
                return false;
            s.first_byte = static_cast<uint8_t>(p);
        } else {
            if (p < INT32_MIN || p > INT32_MAX || p2 < INT32_MIN || p2 > INT32_MAX)
                return false;
            s.param = static_cast<int32_t>(p);
            if (has_p2)
                s.param2 = static_cast<int32_t>(p2);
        }
    }
    return true;
}

int bad_usage(const char *what, const char *arg)
{
    std::fprintf(stderr, "make_sample: %s: %s\n%s", what, arg, usage_text);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if (argc < 2 || argv[1][0] == '-')
        return bad_usage("missing output file", argc < 2 ? "" : argv[1]);

    sample_recipe recipe;
    sample_defaults(&recipe, 4 << 20);
    for (int i = 2; i < argc; ++i) {
        const char *opt = argv[i];
        if (i + 1 >= argc)
            return bad_usage("option without a value", opt);
        const char *val = argv[++i];
        long long v = 0;
        if (std::strcmp(opt, "--size") == 0) {
            if (!parse_number(val, val + std::strlen(val), &v) || v < 0 || v > INT32_MAX)
                return bad_usage("bad size", val);
            recipe.size = v;
        } else if (std::strcmp(opt, "--seed") == 0) {
            if (!parse_number(val, val + std::strlen(val), &v) || v < 0 || v > UINT32_MAX)
                return bad_usage("bad seed", val);
            recipe.seed = static_cast<uint32_t>(v);
        } else if (std::strcmp(opt, "--site") == 0) {
            if (!parse_site(val, &recipe))
                return bad_usage("bad site", val);
        } else {
            return bad_usage("unknown option", opt);
        }
    }

    if (sample_write(argv[1], &recipe) != 0) {
        std::fprintf(stderr, "make_sample: cannot lay out or write %s\n", argv[1]);
        return 2;
    }
    return 0;
}
