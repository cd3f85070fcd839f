#include "cli/apply_json.h"

#include "cli/scan_report.h"

namespace {

void print_head(const apply_json *r, std::FILE *out)
{
    std::fputs("{\"path\": ", out);
    print_json_string(out, r->file);
    print_json_size(out, r->size);
    std::fprintf(out, ", \"version\": \"%s\", \"dry_run\": %d, \"planned\": [", ZANDOR_VERSION, r->dry_run);
    for (int i = 0; i < r->planned; ++i) {
        const plan_line &l = r->lines[i];
        std::fprintf(out, "%s{\"site\": \"%s\", \"offset\": %d, \"old\": ", i > 0 ? ", " : "",
                     patch_catalogue[l.site].name, l.ofs);
        print_json_string(out, l.before);
        std::fputs(", \"new\": ", out);
        print_json_string(out, l.after);
        std::fprintf(out, ", \"change\": %d}", l.change ? 1 : 0);
    }
    std::fputs("]", out);
}

// Whether the site's new bytes went into the file (and stayed there): every
// planned site once the writes are done, only those not put back after a
// failed write.
bool written(const apply_json *r, const patch_outcome &o, int site)
{
    if (r->dry_run)
        return false;
    if (o.result == RESULT_WRITE_FAILED)
        return (o.unrestored & (1 << site)) != 0;
    return o.result == RESULT_OK || o.result == RESULT_VERIFY_FAILED || o.result == RESULT_UNCHECKED;
}

} // namespace

void apply_json_init(apply_json *r, const char *file, int dry_run)
{
    *r = apply_json{};
    r->file = file;
    r->dry_run = dry_run;
    r->size = -1;
}

void apply_json_plan(apply_json *r, const patch_target *scanned, const patch_target *plan, std::FILE *out)
{
    r->size = scanned->file_size;
    r->planned = plan_lines(scanned, plan, r->lines);
    print_head(r, out);
    r->begun = true;
}

void apply_json_end(apply_json *r, const patch_outcome &o, const char *message, int exit_status,
                      std::FILE *out)
{
    if (!r->begun)
        print_head(r, out);
    std::fputs(", \"written\": {", out);
    for (int i = 0; i < r->planned; ++i)
        std::fprintf(out, "%s\"%s\": %d", i > 0 ? ", " : "", patch_catalogue[r->lines[i].site].name,
                     written(r, o, r->lines[i].site) ? 1 : 0);
    std::fprintf(out, "}, \"backup_made\": %d, \"result\": \"%s\", \"message\": ", r->backup_made,
                 result_code(o.result));
    print_json_string(out, message);
    std::fputs(", \"site\": ", out);
    if (o.site >= 0 && o.site < SITE_COUNT)
        std::fprintf(out, "\"%s\"", patch_catalogue[o.site].name);
    else
        std::fputs("null", out);
    std::fprintf(out, ", \"exit_status\": %d}\n", exit_status);
}
