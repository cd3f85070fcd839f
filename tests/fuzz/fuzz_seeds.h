#pragma once

#include <string>
#include <vector>

#include "fuzz_support.h"

// Starting inputs for a harness ("sig_stream", "scan" or "apply"): sample
// images from the sample maker (every site in the game's state, patched,
// duplicated, cut off, unrecognised) and structured inputs that put sites
// across the window edges. Empty for an unknown harness.
std::vector<bytes> fuzz_seeds(const std::string &harness);
