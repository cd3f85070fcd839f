// The options dialog without a window: what OK asks for from what the
// controls show after the scan, that every value offered reads back, and the
// template.

#include <fstream>
#include <iterator>
#include <source_location>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "dialog/options_layout.h"
#include "dialog/options_values.h"
#include "patch/patch_run.h"
#include "tools/sample_image.h"

namespace {

// A scanned target whose found sites all sit at `ofs`, holding the game's code.
patch_target target(int32_t ofs)
{
    patch_target t{};
    t.start_year_ofs = t.wc06_ofs = t.bosman_year_ofs = t.click_delay_ofs = ofs;
    t.exitgame_ofs = t.conf_counts_ofs = t.conf_promoted_ofs = ofs;
    t.start_year = 2001;
    t.bosman_year = 2002;
    t.click_delay = -1;
    t.promoted = 1;
    t.relegated = 3;
    return t;
}

std::string words(const patch_request &r, int32_t kept)
{
    std::ostringstream s;
    const std::pair<const char *, request_value> values[] = {
        {"start", r.start_year},   {"bosman", r.bosman_year}, {"promoted", r.promoted},
        {"relegated", r.relegated}, {"delay", r.click_delay}, {"exit", r.exit_fix},
    };
    for (const auto &[name, v] : values)
        if (v.set)
            s << name << "=" << v.value << " ";
    s << (r.wc06 ? "wc06 " : "") << (r.conference_original ? "original " : "") << (kept ? "kept" : "");
    return s.str();
}

struct request_case {
    const char *what;
    void (*scan)(patch_target *);
    void (*choose)(options_values *);
    const char *asked;
};

const request_case REQUEST_CASES[] = {
    {"as shown", [](patch_target *) {}, [](options_values *) {},
     "start=2001 bosman=2002 promoted=1 relegated=3 delay=5 exit=0 "},
    {"years left alone, fix too", [](patch_target *) {},
     [](options_values *v) { v->check[CHECK_LEAVE_YEARS] = 1, v->check[CHECK_WC06] = 1; },
     "promoted=1 relegated=3 delay=5 exit=0 "},
    {"fix follows the start year", [](patch_target *) {},
     [](options_values *v) { v->check[CHECK_WC06] = 1, v->position[PAIR_START_YEAR] = 2003; },
     "start=2003 bosman=2002 promoted=1 relegated=3 delay=5 exit=0 wc06 "},
    {"installed fix, original unknown, early year",
     [](patch_target *t) { t->wc06_installed = 1; },
     [](options_values *v) { v->check[CHECK_WC06] = 1, v->position[PAIR_START_YEAR] = 2002; },
     "start=2002 bosman=2002 promoted=1 relegated=3 delay=5 exit=0 kept"},
    {"installed fix, original known", [](patch_target *t) { t->wc06_installed = t->wc06_original_known = 1; },
     [](options_values *v) { v->check[CHECK_WC06] = 1; },
     "start=2001 bosman=2002 promoted=1 relegated=3 delay=5 exit=0 wc06 "},
    {"game's conference code back, no delay, exit plainly checked", [](patch_target *) {},
     [](options_values *v) {
         v->check[CHECK_KEEP_CONFERENCE] = 1, v->check[CHECK_NO_CLICK_DELAY] = 1, v->check[CHECK_EXITGAME] = 1;
     },
     "start=2001 bosman=2002 exit=1 original "},
    {"indeterminate exit box, our block with a delay we do not know", [](patch_target *t) { t->click_delay = -2; },
     [](options_values *v) { v->check[CHECK_EXITGAME] = 2; },
     "start=2001 bosman=2002 promoted=1 relegated=3 delay=5 exit=0 "},
    {"absent sites", [](patch_target *t) { t->start_year_ofs = t->conf_promoted_ofs = t->exitgame_ofs = -1; },
     [](options_values *v) { v->check[CHECK_WC06] = 1; }, "bosman=2002 delay=5 "},
    {"one conference block, no delay site", [](patch_target *t) { t->conf_counts_ofs = t->click_delay_ofs = -1; },
     [](options_values *) {}, "start=2001 bosman=2002 exit=0 "},
    {"values a site cannot take", [](patch_target *) {},
     [](options_values *v) {
         const int32_t odd[PAIR_COUNT] = {1999, 30000, 8, 0xff, 7};
         std::copy(odd, odd + PAIR_COUNT, v->position);
     },
     "exit=0 "},
    {"ends of every range", [](patch_target *) {},
     [](options_values *v) {
         const int32_t ends[PAIR_COUNT] = {29999, 2000, 7, 7, 6};
         std::copy(ends, ends + PAIR_COUNT, v->position);
     },
     "start=29999 bosman=2000 promoted=7 relegated=7 delay=6 exit=0 "},
    {"lowest counts", [](patch_target *) {},
     [](options_values *v) { v->position[PAIR_PROMOTED] = 1, v->position[PAIR_RELEGATED] = 0, v->position[PAIR_CLICK_DELAY] = 1; },
     "start=2001 bosman=2002 promoted=1 relegated=0 delay=1 exit=0 "},
};

TEST(options_dialog, ok_asks_for_what_the_controls_say)
{
    for (const request_case &c : REQUEST_CASES) {
        patch_target t = target(100);
        c.scan(&t);
        options_values v = options_initial(&t);
        c.choose(&v);
        int32_t kept = -1;
        patch_request r = options_request(&v, &t, &kept);
        EXPECT_EQ(words(r, kept), c.asked) << c.what;
        EXPECT_EQ(patch_request_check(&r), patch_request_empty(&r) ? RESULT_NOTHING_REQUESTED : RESULT_OK) << c.what;
    }
}

// Whatever the dialog offers is written so that the next run shows it again.
TEST(options_dialog, every_value_offered_reads_back_on_the_next_run)
{
    const std::string path = testing::TempDir() + "zandor-options-readback-" + std::to_string(getpid());
    sample_recipe recipe;
    sample_defaults(&recipe, 200000);
    ASSERT_EQ(sample_write(path.c_str(), &recipe), 0);
    for (int i = 0; i < 20; ++i) {
        patch_target *t = nullptr;
        ASSERT_EQ(scan_file(path.c_str(), &t), RESULT_OK);
        options_values v = options_initial(t);
        const int32_t chosen[PAIR_COUNT] = {2001 + i, 2001 + i * 999 / 19, 1 + i % 7, i % 8, 1 + i % 6};
        std::copy(chosen, chosen + PAIR_COUNT, v.position);
        v.check[CHECK_EXITGAME] = i % 2;
        v.check[CHECK_WC06] = 1;
        int32_t kept = 0;
        EXPECT_EQ(options_apply(&v, t, &kept).result, RESULT_OK) << "run " << i;
        close_target(t);
        ASSERT_EQ(scan_file(path.c_str(), &t), RESULT_OK);
        options_values shown = options_initial(t);
        EXPECT_TRUE(std::equal(chosen, chosen + PAIR_COUNT, shown.position)) << "run " << i;
        EXPECT_EQ(shown.check[CHECK_EXITGAME], i % 2) << "run " << i;
        EXPECT_EQ(shown.check[CHECK_WC06], 2001 + i >= 2003) << "run " << i;
        close_target(t);
    }
    std::remove(path.c_str());
    std::remove((path + ".bak").c_str());
}

// The bytes that the dialog managers of Windows and Wine were seen to take,
// for every site found, none, and a mix that tells the enabling rules apart.
TEST(options_dialog, template_bytes)
{
    const struct {
        const char *file;
        int32_t ofs[SITE_COUNT];
    } cases[] = {
        {"all-found.hex", {100, 100, 100, 100, 100, 100, 100}},
        {"none-found.hex", {-1, -1, -1, -1, -1, -1, -1}},
        {"some-found.hex", {100, -1, -1, 100, -1, 100, -1}},
    };
    for (const auto &c : cases) {
        std::ifstream f(std::string(TEMPLATE_DIR) + "/" + c.file);
        std::vector<uint8_t> want;
        for (unsigned b = 0; f >> std::hex >> b;)
            want.push_back(static_cast<uint8_t>(b));
        patch_target t = target(100);
        t.start_year_ofs = c.ofs[SITE_START_YEAR], t.wc06_ofs = c.ofs[SITE_WC06_FIX];
        t.bosman_year_ofs = c.ofs[SITE_BOSMAN_YEAR], t.click_delay_ofs = c.ofs[SITE_CLICK_DELAY];
        t.exitgame_ofs = c.ofs[SITE_EXITGAME], t.conf_counts_ofs = c.ofs[SITE_CONF_COUNTS];
        t.conf_promoted_ofs = c.ofs[SITE_CONF_PROMOTED];
        dlg_template *d = layout_options_dialog(&t);
        ASSERT_NE(d, nullptr);
        std::vector<uint8_t> got(d->header, d->header + DLG_BLOCK_SIZE);
        want.resize(DLG_BLOCK_SIZE);  // the rest of the block stays zero
        EXPECT_EQ(got, want) << c.file;
        dlg_free(d);
    }
}

} // namespace
