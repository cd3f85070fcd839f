#pragma once

// Heap copy of a NUL-terminated string, in a block of its length plus 2
// bytes; the last byte is spare. Released with free_string.
char *copy_string(const char *s);
void free_string(char *s);
