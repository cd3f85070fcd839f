// fault_runner scan|apply FILE: what the options dialog does, without a
// dialog. Opens and scans FILE, prints each site found ("site NAME OFS LEN"),
// and for apply changes every site found (start year 2010 with the World Cup
// 06 fix, Bosman year 2011, click delay 3, exit fix and conference counts 4/2
// turned around from what the file holds) and prints "result N".
//
// Exit status: 0 written (or scanned), 3 the writer reported a failure,
// 4 the file was not opened, 1 bad usage.

#include <cstdio>
#include <cstring>

#include "patch/apply_patches.h"
#include "patch/patch_target.h"

namespace {

const int32_t *site_offsets(const patch_target *t, int site)
{
    const int32_t *ofs[SITE_COUNT] = {&t->start_year_ofs,  &t->wc06_ofs,        &t->bosman_year_ofs,
                                      &t->click_delay_ofs, &t->exitgame_ofs,    &t->conf_counts_ofs,
                                      &t->conf_promoted_ofs};
    return ofs[site];
}

void print_sites(const patch_target *t)
{
    for (int i = 0; i < SITE_COUNT; ++i) {
        int32_t ofs = *site_offsets(t, i);
        if (ofs > 0)
            std::printf("site %s %d %d\n", patch_catalogue[i].name, ofs, patch_catalogue[i].block_len);
    }
}

void choose(patch_target *t)
{
    t->start_year = 2010;
    t->bosman_year = 2011;
    t->click_delay = 3;
    t->exitgame_installed = !t->exitgame_installed;
    t->touch_conference = 1;
    t->promoted = 4;
    t->relegated = 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "scan") != 0 && std::strcmp(argv[1], "apply") != 0)) {
        std::fprintf(stderr, "usage: fault_runner scan|apply FILE\n");
        return 1;
    }
    scan_diagnostics = stderr;
    patch_target *t = open_target(argv[2]);
    if (t == nullptr) {
        std::printf("not opened\n");
        return std::fflush(stdout) == 0 ? 4 : 1;
    }
    scan_target(t);
    print_sites(t);
    int status = 0;
    if (std::strcmp(argv[1], "apply") == 0) {
        choose(t);
        int result = apply_patches(t);
        std::printf("result %d\n", result);
        status = result == RESULT_OK || result == RESULT_WC06_KEPT ? 0 : 3;
    }
    close_target(t);
    if (std::fflush(stdout) != 0)
        return 1;
    return status;
}
