// The detection scan against the reference classifier, on images holding
// sites in every state, at window edges, cut off by the end of the file,
// duplicated, overlapping and as signature fragments.

#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz_input in{data, size, 0};
    const bytes image = build_image(&in);
    const char *path = scratch_file(image);
    close_target(scan_checked(path, image));
    fuzz_check(read_file(path) == image, "the scan changed the file");
    return 0;
}
