#include "patch/close_file.h"

int close_file(std::FILE *f)
{
    if (f == nullptr)
        return -1;
    int flushed = std::fflush(f);
    int closed = std::fclose(f);
    return (flushed == 0 && closed == 0) ? 0 : -1;
}
