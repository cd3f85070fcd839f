#include "fuzz_seeds.h"

#include "tools/sample_image.h"

namespace {

constexpr int W = 65536;

void put_u8(bytes &out, int v)
{
    out.push_back(static_cast<uint8_t>(v));
}

void put_u16(bytes &out, int v)
{
    put_u8(out, v & 0xff);
    put_u8(out, (v >> 8) & 0xff);
}

void put_u24(bytes &out, int v)
{
    put_u16(out, v & 0xffff);
    put_u8(out, (v >> 16) & 0xff);
}

// One planted piece in the structured image format of build_image.
struct piece {
    int site, kind, anchor, delta, p0, p1, extra;
};

enum { GAME, PATCHED, BYTE0, SIG, PREFIX, SUFFIX };
enum { ANYWHERE, EDGE, END, AFTER, IN_PREV };

// Size class 3 (two window edges), random filler.
bytes structured(int size_over_2w, const std::vector<piece> &pieces)
{
    bytes out;
    put_u8(out, 3 + 4 * 2);
    put_u16(out, 1024 + size_over_2w);
    put_u16(out, 0x1234);
    put_u16(out, 0x5678);
    put_u8(out, static_cast<int>(pieces.size()));
    for (const piece &p : pieces) {
        put_u8(out, p.site);
        put_u8(out, p.kind);
        put_u8(out, p.anchor);
        put_u8(out, p.delta);
        put_u8(out, p.p0);
        put_u8(out, p.p1);
        if (p.anchor == ANYWHERE)
            put_u24(out, p.extra);
        if (p.anchor == EDGE)
            put_u8(out, p.extra);
    }
    return out;
}

// A sample image, whole, in the raw form of build_image.
bytes sample_bytes(const sample_recipe &recipe)
{
    const char *path = write_scratch(bytes{}, 3);
    FUZZ_CHECK(sample_write(path, &recipe) == 0, "the sample maker refused a seed");
    bytes image = read_whole(path);
    image.insert(image.begin(), 0xe0);
    return image;
}

std::vector<bytes> image_seeds()
{
    std::vector<bytes> seeds;
    const int small = 3000;
    sample_recipe recipe;

    sample_defaults(&recipe, small);
    seeds.push_back(sample_bytes(recipe));

    sample_defaults(&recipe, small);
    for (sample_site &s : recipe.site)
        s.state = SAMPLE_PATCHED;
    seeds.push_back(sample_bytes(recipe));

    sample_defaults(&recipe, small);
    recipe.site[SITE_CLICK_DELAY] = {SAMPLE_PATCHED, -1, -1, 7, 0, 0};
    recipe.site[SITE_CONF_COUNTS] = {SAMPLE_PATCHED, -1, -1, 7, 5, 0};
    recipe.site[SITE_CONF_PROMOTED] = {SAMPLE_PATCHED, -1, -1, 7, 0, 0};
    seeds.push_back(sample_bytes(recipe));

    sample_defaults(&recipe, small);
    recipe.site[SITE_START_YEAR].state = SAMPLE_DUPLICATED;
    recipe.site[SITE_EXITGAME].state = SAMPLE_DUPLICATED;
    recipe.site[SITE_CONF_PROMOTED].state = SAMPLE_TRUNCATED;
    seeds.push_back(sample_bytes(recipe));

    sample_defaults(&recipe, small);
    recipe.site[SITE_WC06_FIX].state = SAMPLE_UNRECOGNISED;
    recipe.site[SITE_CLICK_DELAY].state = SAMPLE_UNRECOGNISED;
    recipe.site[SITE_EXITGAME].state = SAMPLE_UNRECOGNISED;
    recipe.site[SITE_CONF_COUNTS].state = SAMPLE_UNRECOGNISED;
    seeds.push_back(sample_bytes(recipe));

    // The sample maker's own layout of a file over two windows, planted
    // through the structured form so that the input stays small.
    sample_defaults(&recipe, 2 * W + 500);
    sample_recipe placed;
    FUZZ_CHECK(sample_layout(&recipe, &placed) == 0);
    std::vector<piece> spread;
    spread.reserve(SITE_COUNT);
    for (int s = 0; s < SITE_COUNT; ++s)
        spread.push_back({s, GAME, ANYWHERE, 0, s == SITE_START_YEAR ? 0xd1 : 0xd2, 0x07,
                          static_cast<int>(placed.site[s].at)});
    seeds.push_back(structured(500, spread));

    // Each site across a window edge: its offset just at, before and after it.
    std::vector<piece> edges;
    edges.reserve(SITE_COUNT);
    for (int s = 0; s < SITE_COUNT; ++s)
        edges.push_back({s, s % 2 ? PATCHED : GAME, EDGE, (s - 3) * 3, 5, 3, s % 2});
    seeds.push_back(structured(900, edges));

    // Cut off by the end, overlapping, and completed by a written value.
    seeds.push_back(structured(100, {{SITE_CONF_PROMOTED, GAME, END, 3, 0, 0, 0},
                                     {SITE_START_YEAR, GAME, ANYWHERE, 0, 0xd1, 0x07, 4000},
                                     {SITE_BOSMAN_YEAR, SIG, IN_PREV, 0, 0, 0, 0},
                                     {SITE_EXITGAME, PATCHED, ANYWHERE, 0, 0, 0, 9000},
                                     {SITE_WC06_FIX, SUFFIX, AFTER, -1, 0, 1, 0}}));
    return seeds;
}

// take_settings in the apply harness: delay, years, exit, conference, then
// for each site how its offset is treated (0: as scanned).
bytes settings(int delay, int start, int bosman, int exit_on, int touch, int promoted, int relegated,
               const std::vector<int> &offset_modes)
{
    bytes out;
    put_u8(out, delay);
    put_u8(out, 1);
    put_u16(out, start);
    put_u8(out, 1);
    put_u16(out, bosman);
    put_u8(out, exit_on);
    put_u8(out, touch);
    put_u8(out, promoted);
    put_u8(out, relegated);
    for (int i = 0; i < SITE_COUNT; ++i) {
        put_u8(out, i < static_cast<int>(offset_modes.size()) ? offset_modes[i] : 0);
        put_u24(out, 1);
    }
    return out;
}

std::vector<bytes> sig_stream_seeds()
{
    std::vector<bytes> seeds;
    for (int s = 0; s < SITE_COUNT; ++s) {
        // The site's signature in zero filler over two windows, across both
        // edges and as the file's last bytes.
        bytes in;
        put_u8(in, s);
        put_u8(in, 3);
        put_u16(in, 300);
        put_u8(in, 0);
        put_u8(in, 3);
        const int L = patch_catalogue[s].sig_len;
        put_u8(in, 0 << 2);
        put_u8(in, -L + 1);
        put_u8(in, 0);
        put_u8(in, 0 << 2);
        put_u8(in, 0);
        put_u8(in, 1);
        put_u8(in, 1 << 2);
        put_u8(in, 0);
        seeds.push_back(in);
    }
    // Three equal bytes searched for two of them; a short custom signature
    // repeated in its own filler.
    seeds.push_back(bytes{7, 1, 0x41, 0x41, 0, 3, 0x41, 0});
    seeds.push_back(bytes{7, 2, 1, 2, 3, 2 + 8, 0x2c, 0x01, 0, 2, 2 << 2, 1, 2 << 2, 0xff});
    return seeds;
}

} // namespace

std::vector<bytes> fuzz_seeds(const std::string &harness)
{
    if (harness == "sig_stream")
        return sig_stream_seeds();
    std::vector<bytes> images = image_seeds();
    if (harness == "scan")
        return images;
    if (harness != "apply")
        return {};
    const bytes choices[] = {
        settings(3, 2005, 2010, 1, 1, 4, 2, {}),
        settings(0, 2002, 1999, 0, 0, 1, 3, {}),
        settings(8, 30000, 2000, 1, 1, 9, 7, {12, 0, 14, 0, 15, 12, 0}),
    };
    std::vector<bytes> seeds;
    for (const bytes &c : choices)
        for (const bytes &image : images) {
            bytes in = c;
            in.insert(in.end(), image.begin(), image.end());
            seeds.push_back(in);
        }
    return seeds;
}
