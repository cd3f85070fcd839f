#pragma once

// Black-box runs of the built zandor-patcher-cli on sample images.

#include <gtest/gtest.h>

#include <map>
#include <source_location>
#include <string>
#include <vector>

#include "test_support.h"

using json_object = std::map<std::string, long>;

// The keys of `scan --json`, in the order they are printed.
extern const std::vector<std::string> scan_json_keys;

// Parses the one JSON object of `scan --json`; false unless the text is
// exactly one flat object of integers followed by a newline.
bool parse_scan_json(const std::string &text, json_object *out);

// [offset, offset + length) of a site's value or block, from a placed recipe.
struct byte_range {
    int64_t from;
    int64_t to;
};
byte_range site_range(const sample_recipe &placed, site_id site);

// What a block site should hold: the game's block (with the maker's wc06
// tail) or our patched block with its parameters.
bytes expected_block(site_id site, bool patched, int param = 0, int param2 = 0);

class cli_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the CLI; never a crash or a hang, whatever the arguments.
    run_result cli(const std::vector<std::string> &args, int as_uid = -1,
                   std::source_location where = std::source_location::current());
    // Writes `recipe` to `path` and remembers where its sites went.
    void make(const sample_recipe &recipe, std::source_location where = std::source_location::current());
    // `scan --json` of `file` (default: `path`), which must succeed.
    json_object scan_json(const std::string &file = std::string(),
                          std::source_location where = std::source_location::current());
    bytes contents() const { return read_file(path); }
    bytes block_in_file(site_id site) const;

    // Every byte that differs between `before` and `after` lies in one of
    // `sites`, and the length is the same.
    void expect_only_sites_changed(const bytes &before, const bytes &after,
                                   const std::vector<site_id> &sites,
                                   std::source_location where = std::source_location::current());

    std::string dir;
    std::string path;
    sample_recipe placed{};
};

sample_recipe game_recipe(int64_t size = 1 << 20);
