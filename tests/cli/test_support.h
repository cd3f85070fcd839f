#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "run_program.h"
#include "patch/catalogue.h"
#include "tools/sample_image.h"

// Helpers shared by the black-box tests: scratch files, byte searches and
// running a built program with a time limit.

// A fresh directory under the system's temporary directory, removed with
// everything in it by remove_tree.
std::string make_temp_dir();
void remove_tree(const std::string &dir);

// Every offset at which `sig` begins in `data`, overlapping ones included.
std::vector<int64_t> find_all(const bytes &data, const uint8_t *sig, int32_t len);
std::vector<int64_t> find_site(const bytes &data, site_id site);

// A sample image from `recipe` at `path`; the recipe's offsets resolved into
// `placed` when given.
bool make_image(const std::string &path, const sample_recipe &recipe, sample_recipe *placed = nullptr);
