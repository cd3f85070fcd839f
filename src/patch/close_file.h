#pragma once

#include <cstdio>

// Flushes and closes a handle; returns -1 when either fails (a missing
// handle counts as a failure and is left alone), else 0.
int close_file(std::FILE *f);
