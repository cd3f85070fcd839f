// `apply`: each option writes its site and nothing else, round trips restore
// the file byte for byte, dry runs and refusals write nothing, backups.

#include <sys/stat.h>

#include <functional>

#include "cli_fixture.h"

namespace {

bool exists(const std::string &p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

bytes year_bytes(int year)
{
    return bytes{static_cast<uint8_t>(year & 0xff), static_cast<uint8_t>(year >> 8)};
}

TEST_F(cli_test, each_option_writes_its_site_and_nothing_else)
{
    const struct {
        std::vector<std::string> options;
        std::vector<site_id> sites;
        json_object changes;  // of `scan --json`; every other key stays
    } cases[] = {
        {{"--start-year", "2010"}, {SITE_START_YEAR}, {{"start_year", 2010}}},
        {{"--start-year", "2003", "--wc06"}, {SITE_START_YEAR, SITE_WC06_FIX},
         {{"start_year", 2003}, {"wc06_installed", 1}}},
        {{"--start-year", "2002", "--wc06"}, {SITE_START_YEAR, SITE_WC06_FIX}, {{"start_year", 2002}}},
        {{"--bosman-year", "2000"}, {SITE_BOSMAN_YEAR}, {{"bosman_year", 2000}}},
        {{"--bosman-year", "29999"}, {SITE_BOSMAN_YEAR}, {{"bosman_year", 29999}}},
        {{"--promoted", "7"}, {SITE_CONF_COUNTS, SITE_CONF_PROMOTED}, {{"promoted", 7}}},
        {{"--relegated", "0"}, {SITE_CONF_COUNTS, SITE_CONF_PROMOTED}, {{"relegated", 0}}},
        {{"--promoted", "2", "--relegated", "5"}, {SITE_CONF_COUNTS, SITE_CONF_PROMOTED},
         {{"promoted", 2}, {"relegated", 5}}},
        {{"--conference-original"}, {SITE_CONF_COUNTS, SITE_CONF_PROMOTED}, {}},
        {{"--click-delay", "1"}, {SITE_CLICK_DELAY}, {{"click_delay", 1}}},
        {{"--click-delay", "6"}, {SITE_CLICK_DELAY}, {{"click_delay", 6}}},
        {{"--click-delay", "off"}, {SITE_CLICK_DELAY}, {}},
        {{"--exit-fix", "on"}, {SITE_EXITGAME}, {{"exitgame_installed", 1}}},
        {{"--exit-fix", "off"}, {SITE_EXITGAME}, {}},
        {{"--start-year", "2020", "--wc06", "--bosman-year", "2021", "--promoted", "3", "--relegated", "4",
          "--click-delay", "2", "--exit-fix", "on"},
         {SITE_START_YEAR, SITE_WC06_FIX, SITE_BOSMAN_YEAR, SITE_CONF_COUNTS, SITE_CONF_PROMOTED,
          SITE_CLICK_DELAY, SITE_EXITGAME},
         {{"start_year", 2020}, {"wc06_installed", 1}, {"bosman_year", 2021}, {"promoted", 3},
          {"relegated", 4}, {"click_delay", 2}, {"exitgame_installed", 1}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        make(game_recipe());
        const bytes before = contents();
        json_object expected = scan_json();

        std::vector<std::string> args = {"apply", path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        run_result r = cli(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("Checked: every written site reads back as requested."), std::string::npos);
        for (site_id s : c.sites)
            EXPECT_NE(r.out.find(patch_catalogue[s].name), std::string::npos) << "the report names it";

        expect_only_sites_changed(before, contents(), c.sites);
        for (const auto &[key, value] : c.changes)
            expected[key] = value;
        EXPECT_EQ(scan_json(), expected);
    }
}

TEST_F(cli_test, written_blocks_are_exactly_the_catalogue_bytes)
{
    make(game_recipe());
    run_result r = cli({"apply", path, "--start-year", "2574", "--wc06", "--bosman-year", "2074",
                        "--promoted", "6", "--relegated", "1", "--click-delay", "5", "--exit-fix", "on"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(block_in_file(SITE_START_YEAR), year_bytes(2574));
    EXPECT_EQ(block_in_file(SITE_BOSMAN_YEAR), year_bytes(2074));
    EXPECT_EQ(block_in_file(SITE_WC06_FIX), expected_block(SITE_WC06_FIX, true));
    EXPECT_EQ(block_in_file(SITE_CLICK_DELAY), expected_block(SITE_CLICK_DELAY, true, 5));
    EXPECT_EQ(block_in_file(SITE_EXITGAME), expected_block(SITE_EXITGAME, true));
    EXPECT_EQ(block_in_file(SITE_CONF_COUNTS), expected_block(SITE_CONF_COUNTS, true, 6, 1));
    EXPECT_EQ(block_in_file(SITE_CONF_PROMOTED), expected_block(SITE_CONF_PROMOTED, true, 6));

    // The high half of each pushed year stays.
    bytes data = contents();
    for (site_id s : {SITE_START_YEAR, SITE_BOSMAN_YEAR}) {
        int64_t after = site_range(placed, s).to;
        EXPECT_EQ(data[static_cast<size_t>(after)], 0);
        EXPECT_EQ(data[static_cast<size_t>(after) + 1], 0);
    }
}

TEST_F(cli_test, there_and_back_restores_every_byte)
{
    const struct {
        std::vector<std::string> there;
        std::vector<std::string> back;
    } cases[] = {
        {{"--click-delay", "4"}, {"--click-delay", "off"}},
        {{"--exit-fix", "on"}, {"--exit-fix", "off"}},
        {{"--promoted", "3", "--relegated", "1"}, {"--conference-original"}},
        {{"--start-year", "2005", "--bosman-year", "2020"}, {"--start-year", "2001", "--bosman-year", "2002"}},
        // Before 2003 the fix is written as the game's own block, as read.
        {{"--start-year", "2002", "--wc06"}, {"--start-year", "2001"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.there));
        make(game_recipe());
        const bytes original = contents();
        std::vector<std::string> there = {"apply", path};
        there.insert(there.end(), c.there.begin(), c.there.end());
        ASSERT_EQ(cli(there).exit_code, 0);
        EXPECT_NE(contents(), original);
        std::vector<std::string> back = {"apply", path};
        back.insert(back.end(), c.back.begin(), c.back.end());
        ASSERT_EQ(cli(back).exit_code, 0);
        EXPECT_EQ(contents(), original);
    }
}

TEST_F(cli_test, installed_patches_are_changed_or_removed)
{
    sample_recipe recipe = game_recipe();
    for (site_id s : {SITE_WC06_FIX, SITE_CLICK_DELAY, SITE_EXITGAME, SITE_CONF_COUNTS, SITE_CONF_PROMOTED})
        recipe.site[s].state = SAMPLE_PATCHED;
    recipe.site[SITE_CLICK_DELAY].param = 6;
    recipe.site[SITE_CONF_COUNTS].param = 2;
    recipe.site[SITE_CONF_COUNTS].param2 = 6;
    recipe.site[SITE_CONF_PROMOTED].param = 2;
    make(recipe);

    run_result r = cli({"apply", path, "--click-delay", "off", "--exit-fix", "off", "--relegated", "7",
                        "--start-year", "2004", "--wc06"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(block_in_file(SITE_CLICK_DELAY), expected_block(SITE_CLICK_DELAY, false));
    EXPECT_EQ(block_in_file(SITE_EXITGAME), expected_block(SITE_EXITGAME, false));
    EXPECT_EQ(block_in_file(SITE_CONF_COUNTS), expected_block(SITE_CONF_COUNTS, true, 2, 7));
    EXPECT_EQ(block_in_file(SITE_CONF_PROMOTED), expected_block(SITE_CONF_PROMOTED, true, 2));
    EXPECT_EQ(block_in_file(SITE_WC06_FIX), expected_block(SITE_WC06_FIX, true));

    // The fix cannot come out: the game's bytes were never seen.
    const bytes before = contents();
    r = cli({"apply", path, "--start-year", "2001", "--wc06", "--exit-fix", "on"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("World Cup 06 fix"), std::string::npos) << r.err;
    EXPECT_EQ(contents(), before);
}

TEST_F(cli_test, sites_across_window_edges_round_trip)
{
    sample_recipe recipe = game_recipe(4 * 65536);
    recipe.site[SITE_CLICK_DELAY].at = 65536 - 10;    // signature split by the edge
    recipe.site[SITE_CONF_PROMOTED].at = 2 * 65536 - 65;  // block starts at the edge
    recipe.site[SITE_START_YEAR].at = 3 * 65536 - 6;  // year split by the edge
    make(recipe);
    const bytes before = contents();
    run_result r = cli({"apply", path, "--click-delay", "3", "--promoted", "5", "--start-year", "2222"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    expect_only_sites_changed(before, contents(), {SITE_CLICK_DELAY, SITE_CONF_COUNTS, SITE_CONF_PROMOTED, SITE_START_YEAR});
    json_object j = scan_json();
    EXPECT_EQ(j["click_delay"], 3);
    EXPECT_EQ(j["promoted"], 5);
    EXPECT_EQ(j["start_year"], 2222);
}

TEST_F(cli_test, dry_run_writes_nothing_and_says_what_it_would)
{
    make(game_recipe());
    const bytes before = contents();
    run_result r = cli({"apply", path, "--dry-run", "--backup", "--start-year", "2010", "--wc06",
                        "--click-delay", "2", "--conference-original"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(contents(), before);
    EXPECT_FALSE(exists(path + ".bak"));
    EXPECT_NE(r.out.find("nothing was written"), std::string::npos) << r.out;
    for (site_id s : {SITE_START_YEAR, SITE_WC06_FIX, SITE_CLICK_DELAY, SITE_CONF_COUNTS, SITE_CONF_PROMOTED})
        EXPECT_NE(r.out.find(patch_catalogue[s].name), std::string::npos) << patch_catalogue[s].name;
    EXPECT_EQ(r.out.find(patch_catalogue[SITE_EXITGAME].name), std::string::npos) << "not asked for";
    EXPECT_NE(r.out.find("year 2001 -> year 2010"), std::string::npos) << r.out;
}

TEST_F(cli_test, backup_is_made_once_and_never_overwritten)
{
    make(game_recipe());
    const bytes original = contents();
    run_result r = cli({"apply", path, "--backup", "--exit-fix", "on"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(path + ".bak"), original);
    const bytes patched = contents();
    EXPECT_NE(patched, original);

    r = cli({"apply", path, "--backup", "--exit-fix", "off"});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_NE(r.err.find("backup"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(path + ".bak"), original);
    EXPECT_EQ(contents(), patched) << "nothing written without the backup";
}

TEST_F(cli_test, a_missing_site_means_nothing_is_written)
{
    const struct {
        site_id site;
        sample_state state;
        std::vector<std::string> options;
        const char *label;
    } cases[] = {
        {SITE_START_YEAR, SAMPLE_ABSENT, {"--start-year", "2010", "--exit-fix", "on"}, "start year"},
        {SITE_WC06_FIX, SAMPLE_UNRECOGNISED, {"--start-year", "2010", "--wc06"}, "World Cup 06 fix"},
        {SITE_BOSMAN_YEAR, SAMPLE_DUPLICATED, {"--exit-fix", "on", "--bosman-year", "2010"}, "Bosman year"},
        {SITE_CLICK_DELAY, SAMPLE_UNRECOGNISED, {"--click-delay", "off", "--promoted", "2"}, "click delay"},
        {SITE_EXITGAME, SAMPLE_TRUNCATED, {"--exit-fix", "off", "--backup"}, "exit fix"},
        {SITE_CONF_COUNTS, SAMPLE_ABSENT, {"--relegated", "2", "--click-delay", "3"}, "conference"},
        {SITE_CONF_PROMOTED, SAMPLE_DUPLICATED, {"--conference-original"}, "conference"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(patch_catalogue[c.site].name);
        sample_recipe recipe = game_recipe();
        recipe.site[c.site].state = c.state;
        make(recipe);
        const bytes before = contents();
        std::vector<std::string> args = {"apply", path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        run_result r = cli(args);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(contents(), before);
        EXPECT_FALSE(exists(path + ".bak"));
        EXPECT_NE(r.err.find(c.label), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Writing"), std::string::npos);
    }
}

} // namespace
