// `scan` and `scan --json` on images in many states.

#include <cstdio>
#include <functional>

#include "cli_fixture.h"
#include "patch/patch_target.h"

namespace {

using recipe_change = std::function<void(sample_recipe &)>;

json_object core_scan(const std::string &path)
{
    std::FILE *quiet = std::tmpfile();
    scan_diagnostics = quiet;
    patch_target *t = open_target(path.c_str());
    json_object j;
    if (t != nullptr) {
        scan_target(t);
        j = {{"start_year_ofs", t->start_year_ofs},   {"start_year", t->start_year},
             {"wc06_ofs", t->wc06_ofs},               {"wc06_installed", t->wc06_installed},
             {"bosman_year_ofs", t->bosman_year_ofs}, {"bosman_year", t->bosman_year},
             {"click_delay_ofs", t->click_delay_ofs}, {"click_delay", t->click_delay},
             {"exitgame_ofs", t->exitgame_ofs},       {"exitgame_installed", t->exitgame_installed},
             {"conf_counts_ofs", t->conf_counts_ofs}, {"conf_promoted_ofs", t->conf_promoted_ofs},
             {"promoted", t->promoted},               {"relegated", t->relegated},
             {"touch_conference", t->touch_conference}};
        close_target(t);
    }
    scan_diagnostics = nullptr;
    if (quiet != nullptr)
        std::fclose(quiet);
    return j;
}

sample_recipe with(const recipe_change &change, int64_t size = 1 << 19)
{
    sample_recipe recipe = game_recipe(size);
    change(recipe);
    return recipe;
}

void patch_site(sample_recipe &s, site_id site, int param = 0, int param2 = 0)
{
    s.site[site].state = SAMPLE_PATCHED;
    s.site[site].param = param;
    s.site[site].param2 = param2;
}

TEST_F(cli_test, scan_json_reports_the_record_after_the_scan)
{
    const struct {
        const char *what;
        sample_recipe recipe;
        json_object expected;  // checked besides agreeing with the core's scan
    } cases[] = {
        {"game's code", game_recipe(),
         {{"start_year", 2001}, {"bosman_year", 2002}, {"wc06_installed", 0}, {"click_delay", -1},
          {"exitgame_installed", 0}, {"promoted", 1}, {"relegated", 3}, {"touch_conference", 0}}},
        {"all patched", with([](sample_recipe &s) {
             s.site[SITE_START_YEAR].param = 0x0a0d;
             s.site[SITE_BOSMAN_YEAR].param = 0x081a;
             patch_site(s, SITE_WC06_FIX);
             patch_site(s, SITE_CLICK_DELAY, 6);
             patch_site(s, SITE_EXITGAME);
             patch_site(s, SITE_CONF_COUNTS, 7, 0);
             patch_site(s, SITE_CONF_PROMOTED, 7);
         }),
         {{"start_year", 2573}, {"bosman_year", 2074}, {"wc06_installed", 1}, {"click_delay", 6},
          {"exitgame_installed", 1}, {"promoted", 7}, {"relegated", 0}}},
        {"nothing found", with([](sample_recipe &s) {
             for (sample_site &site : s.site)
                 site.state = SAMPLE_ABSENT;
         }),
         {{"start_year_ofs", -1}, {"start_year", 0}, {"wc06_ofs", -1}, {"bosman_year_ofs", -1},
          {"bosman_year", 0}, {"click_delay_ofs", -1}, {"click_delay", -1}, {"exitgame_ofs", -1},
          {"conf_counts_ofs", -1}, {"conf_promoted_ofs", -1}, {"promoted", 1}, {"relegated", 3}}},
        {"odd delay byte", with([](sample_recipe &s) { patch_site(s, SITE_CLICK_DELAY, 7); }),
         {{"click_delay", -2}}},
        {"unrecognised delay", with([](sample_recipe &s) { s.site[SITE_CLICK_DELAY].state = SAMPLE_UNRECOGNISED; }),
         {{"click_delay_ofs", -1}, {"click_delay", -2}}},
        {"conference counts disagree", with([](sample_recipe &s) {
             patch_site(s, SITE_CONF_COUNTS, 3, 2);
             patch_site(s, SITE_CONF_PROMOTED, 4);
         }),
         {{"conf_counts_ofs", -1}, {"conf_promoted_ofs", -1}}},
        {"duplicated and truncated", with([](sample_recipe &s) {
             s.site[SITE_EXITGAME].state = SAMPLE_DUPLICATED;
             s.site[SITE_START_YEAR].state = SAMPLE_TRUNCATED;
         }),
         {{"exitgame_ofs", -1}, {"start_year_ofs", -1}}},
        {"sites across window edges", with([](sample_recipe &s) {
             s.site[SITE_CONF_PROMOTED].at = 65536 - 40;
             s.site[SITE_START_YEAR].at = 2 * 65536 - 2;
             s.site[SITE_CLICK_DELAY].at = 3 * 65536 - 18;
         }),
         {{"conf_promoted_ofs", 65536 - 40 + 65}, {"start_year_ofs", 2 * 65536 + 3},
          {"click_delay_ofs", 3 * 65536}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        make(c.recipe);
        run_result r = cli({"scan", "--json", path});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        json_object got;
        ASSERT_TRUE(parse_scan_json(r.out, &got)) << r.out;

        // The keys, each once, in the documented order.
        size_t last = 0;
        for (const std::string &key : scan_json_keys) {
            size_t at = r.out.find("\"" + key + "\"");
            ASSERT_NE(at, std::string::npos) << key;
            EXPECT_GT(at, last) << key;
            last = at;
        }
        EXPECT_EQ(got.size(), scan_json_keys.size());

        EXPECT_EQ(got, core_scan(path));
        for (const auto &[key, value] : c.expected)
            EXPECT_EQ(got[key], value) << key;
    }
}

TEST_F(cli_test, scan_table_shows_offsets_and_states_in_words)
{
    make(with([](sample_recipe &s) {
        patch_site(s, SITE_CLICK_DELAY, 4);
        patch_site(s, SITE_EXITGAME);
        patch_site(s, SITE_CONF_COUNTS, 5, 6);
        patch_site(s, SITE_CONF_PROMOTED, 5);
        s.site[SITE_WC06_FIX].state = SAMPLE_ABSENT;
    }));
    run_result r = cli({"scan", path});
    ASSERT_EQ(r.exit_code, 0) << r.err;

    auto line_of = [&](site_id site) {
        const std::string name = patch_catalogue[site].name;
        size_t at = r.out.find("\n" + name + " ");
        if (at == std::string::npos)
            return std::string();
        size_t end = r.out.find('\n', at + 1);
        return r.out.substr(at + 1, end - at - 1);
    };
    auto where = [&](site_id site) {
        char text[40];
        int64_t ofs = site_range(placed, site).from;
        std::snprintf(text, sizeof text, "0x%08llx (%lld)", static_cast<unsigned long long>(ofs),
                      static_cast<long long>(ofs));
        return std::string(text);
    };
    const struct {
        site_id site;
        std::string words;
    } rows[] = {
        {SITE_START_YEAR, "year 2001"},         {SITE_BOSMAN_YEAR, "year 2002"},
        {SITE_CLICK_DELAY, "delay 4"},          {SITE_EXITGAME, "installed"},
        {SITE_CONF_COUNTS, "promoted 5, relegated 6"}, {SITE_CONF_PROMOTED, "promoted 5"},
    };
    for (const auto &row : rows) {
        std::string line = line_of(row.site);
        SCOPED_TRACE(line);
        EXPECT_NE(line.find(where(row.site)), std::string::npos);
        EXPECT_NE(line.find(row.words), std::string::npos);
    }
    EXPECT_NE(line_of(SITE_WC06_FIX).find("absent"), std::string::npos);
    EXPECT_EQ(line_of(SITE_EXITGAME).find("not installed"), std::string::npos);

    make(with([](sample_recipe &s) { s.site[SITE_CLICK_DELAY].state = SAMPLE_UNRECOGNISED; }));
    r = cli({"scan", path});
    EXPECT_NE(line_of(SITE_CLICK_DELAY).find("absent"), std::string::npos);
    EXPECT_NE(line_of(SITE_CLICK_DELAY).find("not recognised"), std::string::npos);
    EXPECT_NE(line_of(SITE_WC06_FIX).find("not installed"), std::string::npos);
}

TEST_F(cli_test, scan_diagnostics_go_to_standard_error_only)
{
    const struct {
        const char *what;
        recipe_change change;
        std::string line;
    } cases[] = {
        {"absent", [](sample_recipe &s) { s.site[SITE_EXITGAME].state = SAMPLE_ABSENT; },
         "exitgame: ofs = -1, ofs2 = -1\n"},
        {"twice", [](sample_recipe &s) {
             s.site[SITE_EXITGAME].state = SAMPLE_DUPLICATED;
             s.site[SITE_EXITGAME].at = 70000;
             s.site[SITE_EXITGAME].at2 = 300000;
         },
         "exitgame: ofs = 70000, ofs2 = 300000\n"},
        {"unrecognised", [](sample_recipe &s) {
             s.site[SITE_EXITGAME].state = SAMPLE_UNRECOGNISED;
             s.site[SITE_EXITGAME].first_byte = 0x0c;
         },
         "First byte after exit fix is 0C\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        make(with(c.change));
        run_result r = cli({"scan", "--json", path});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, c.line);
        json_object j;
        EXPECT_TRUE(parse_scan_json(r.out, &j)) << r.out;
        EXPECT_EQ(j["exitgame_ofs"], -1);
    }
}

} // namespace
