#include "cli_fixture.h"

#include <cstring>
#include <regex>

const std::vector<std::string> scan_json_keys = {
    "start_year_ofs",    "start_year",        "wc06_ofs",     "wc06_installed",
    "bosman_year_ofs",   "bosman_year",       "click_delay_ofs", "click_delay",
    "exitgame_ofs",      "exitgame_installed", "conf_counts_ofs", "conf_promoted_ofs",
    "promoted",          "relegated",         "touch_conference",
};

bool parse_scan_json(const std::string &text, json_object *out)
{
    static const std::regex whole(R"(^\{("[a-z0-9_]+": -?[0-9]+)(, "[a-z0-9_]+": -?[0-9]+)*\}\n$)");
    if (!std::regex_match(text, whole))
        return false;
    static const std::regex pair(R"x("([a-z0-9_]+)": (-?[0-9]+))x");
    out->clear();
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pair); it != std::sregex_iterator(); ++it)
        if (!out->emplace((*it)[1].str(), std::stol((*it)[2].str())).second)
            return false;  // a key twice
    return true;
}

byte_range site_range(const sample_recipe &placed, site_id site)
{
    const site_entry &e = patch_catalogue[site];
    int64_t from = placed.site[site].at + e.sig_len;
    return byte_range{from, from + e.block_len};
}

bytes expected_block(site_id site, bool patched, int param, int param2)
{
    const site_entry &e = patch_catalogue[site];
    if (patched) {
        bytes b(e.patched, e.patched + e.block_len);
        if (site == SITE_CLICK_DELAY)
            b[CLICK_DELAY_PARAM_POS] = static_cast<uint8_t>(param);
        if (site == SITE_CONF_COUNTS) {
            b[CONF_COUNTS_PROMOTED_POS] = static_cast<uint8_t>(param);
            b[CONF_COUNTS_RELEGATED_POS] = static_cast<uint8_t>(param2);
        }
        if (site == SITE_CONF_PROMOTED)
            b[CONF_PROMOTED_PARAM_POS] = static_cast<uint8_t>(param);
        return b;
    }
    bytes b(e.unpatched, e.unpatched + e.unpatched_known);
    if (site == SITE_WC06_FIX)
        b.insert(b.end(), sample_wc06_tail(), sample_wc06_tail() + (WC06_BLOCK_LEN - e.unpatched_known));
    return b;
}

sample_recipe game_recipe(int64_t size)
{
    sample_recipe recipe;
    sample_defaults(&recipe, size);
    return recipe;
}

void cli_test::SetUp()
{
    dir = make_temp_dir();
    ASSERT_FALSE(dir.empty());
    path = dir + "/ZANDOR.EXE";
}

void cli_test::TearDown()
{
    remove_tree(dir);
}

run_result cli_test::cli(const std::vector<std::string> &args, int as_uid, std::source_location where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                               testing::Message() << "zandor-patcher-cli " << testing::PrintToString(args));
    run_result r = run_program(CLI_PATH, args, 60, as_uid);
    EXPECT_FALSE(r.timed_out);
    EXPECT_FALSE(r.crashed) << r.err;
    return r;
}

void cli_test::make(const sample_recipe &recipe, std::source_location where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "making the image");
    ASSERT_TRUE(make_image(path, recipe, &placed));
}

json_object cli_test::scan_json(const std::string &file, std::source_location where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "scan --json");
    run_result r = run_program(CLI_PATH, {"scan", "--json", file.empty() ? path : file});
    json_object j;
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(parse_scan_json(r.out, &j)) << r.out;
    return j;
}

bytes cli_test::block_in_file(site_id site) const
{
    bytes data = contents();
    byte_range br = site_range(placed, site);
    if (br.to > static_cast<int64_t>(data.size()))
        return bytes();
    return bytes(data.begin() + br.from, data.begin() + br.to);
}

void cli_test::expect_only_sites_changed(const bytes &before, const bytes &after,
                                         const std::vector<site_id> &sites, std::source_location where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "comparing the file");
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i])
            continue;
        bool inside = false;
        for (site_id s : sites) {
            byte_range br = site_range(placed, s);
            inside = inside || (static_cast<int64_t>(i) >= br.from && static_cast<int64_t>(i) < br.to);
        }
        ASSERT_TRUE(inside) << "byte " << i << " changed outside the written sites";
    }
}
