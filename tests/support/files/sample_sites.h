#pragma once

#include <optional>
#include <vector>

#include "tools/sample_image.h"

// A site of a sample image where it differs from the game's own at a place
// the maker picks, or from the image before a run; a value left out stays.
struct site_is {
    site_id site;
    sample_state state;
    std::optional<int32_t> param = {}, param2 = {}; // as in sample_site
    std::optional<int64_t> at = {}, at2 = {};
    std::optional<uint8_t> first_byte = {};
};

// `base` with these sites.
inline sample_recipe with(sample_recipe base, const std::vector<site_is> &sites)
{
    for (const site_is &s : sites) {
        sample_site &to = base.site[s.site];
        to = {s.state, s.at.value_or(to.at), s.at2.value_or(to.at2), s.param.value_or(to.param),
              s.param2.value_or(to.param2), s.first_byte.value_or(to.first_byte)};
    }
    return base;
}

// Writes to `path` the sample of `size` bytes holding these sites, each where
// the maker places it unless given; the recipe as laid out, its size -1 when
// it cannot be laid out or written.
inline sample_recipe sample_file(const char *path, const std::vector<site_is> &sites, int64_t size)
{
    sample_recipe r;
    sample_defaults(&r, size);
    r = with(r, sites);
    r.size = sample_layout(&r, &r) == 0 && sample_write(path, &r) == 0 ? r.size : -1;
    return r;
}
