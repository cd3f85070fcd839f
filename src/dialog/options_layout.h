#pragma once

#include "dialog/dlg_template.h"
#include "patch/patch_target.h"

// The options dialog's template for a scanned target: 25 controls, those of
// sites that were not found disabled. Null when memory is short.
dlg_template *layout_options_dialog(const patch_target *t);
