#include "app/current_target.h"

patch_target *current_target = nullptr;
