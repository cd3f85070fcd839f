#pragma once

#include "patch/patch_target.h"

// The one target of the run, set by the main flow as soon as open_target
// returns; the options dialog reaches it through here.
extern patch_target *current_target;
