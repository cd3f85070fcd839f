#pragma once

// Shared by the dialog and program tests: a fresh stand-in system for every
// test, scratch sample images, and short ways to script the user.

#include <cstdint>
#include <source_location>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file_bytes.h"
#include "scratch_path.h"
#include "patch/patch_target.h"
#include "platform/host_script.h"
#include "tools/sample_image.h"

struct ui_test : testing::Test {
    void SetUp() override;
    void TearDown() override;  // no global block may be left behind
};

// Writes a sample image and returns the recipe with every offset resolved.
sample_recipe write_sample(const std::string &path, const sample_recipe &recipe,
                         std::source_location where = std::source_location::current());
// A sample with every site in the game's state.
sample_recipe default_sample();

// A scanned target; the caller closes it.
patch_target *scanned(const std::string &path);

host_action type_text(int id, const char *text);
host_action click(int id);
host_action close_box();
host_action escape_key();
host_action enter_key();
host_action command(WPARAM wparam);
host_action call_out(void (*fn)(void *), void *context);

// Lays out the options dialog for `t` (as current_target) and runs it with
// the actions; the result of dlg_run.
INT_PTR run_options(patch_target *t, const std::vector<host_action> &actions);
