// fault_runner FILE: what the options dialog does, without a window. Scans
// FILE, sets every control as a user would (start year 2010 with the World
// Cup 06 box, Bosman year 2011, click delay 3, the exit fix box turned
// around, conference 4 up and 2 down) and presses OK: options_apply. Prints
// each site that OK writes ("site NAME OFS LEN"), then "result N".
//
// Exit status: 0 written; 2 failed, nothing written; 3 failed, perhaps
// written; 4 not opened; 1 bad usage.

#include <cstdio>

#include "dialog/options_values.h"

int main(int argc, char **argv)
{
    patch_target *t = argc == 2 ? open_target(argv[1]) : nullptr;
    if (t == nullptr)
        return argc == 2 ? 4 : 1;
    scan_diagnostics = stderr;
    scan_target(t);
    options_values v = options_initial(t);
    const int32_t chosen[PAIR_COUNT] = {2010, 2011, 4, 2, 3};  // in the order of options_pair
    for (int i = 0; i < PAIR_COUNT; ++i)
        v.position[i] = chosen[i];
    v.check[CHECK_WC06] = 1;
    v.check[CHECK_EXITGAME] = !v.check[CHECK_EXITGAME];

    int32_t kept = 0;
    const patch_request r = options_request(&v, t, &kept);
    const bool conference = r.promoted.set || r.relegated.set || r.conference_original;
    const bool written[SITE_COUNT] = {r.start_year.set != 0, r.wc06 != 0, r.bosman_year.set != 0,
                                      r.click_delay.set != 0, r.exit_fix.set != 0, conference, conference};
    for (int s = 0; s < SITE_COUNT; ++s)
        if (written[s])
            std::printf("site %s %d %d\n", patch_catalogue[s].name, target_site_ofs(t, s), patch_catalogue[s].block_len);
    const patch_result result = options_apply(&v, t, &kept).result;
    std::printf("result %d\n", result);
    close_target(t);
    const bool ok = result == RESULT_OK || result == RESULT_WC06_KEPT;
    const int status = ok ? 0 : result == RESULT_WRITE_FAILED || result == RESULT_VERIFY_FAILED || result == RESULT_UNCHECKED ? 3 : 2;
    return std::fflush(stdout) == 0 ? status : 1;
}
