#include "patch/strings.h"

#include <cstdlib>
#include <cstring>

char *copy_string(const char *s)
{
    std::size_t len = std::strlen(s);
    char *copy = static_cast<char *>(std::malloc(len + 2));
    if (copy != nullptr)
        std::memcpy(copy, s, len + 1);
    return copy;
}

void free_string(char *s)
{
    std::free(s);
}
