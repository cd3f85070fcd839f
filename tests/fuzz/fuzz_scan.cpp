// The detection scan against the reference classifier, on images holding
// sites in every state, at window edges, cut off by the end of the file,
// duplicated, overlapping and as signature fragments.

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz_input in{data, size, 0};
    bytes image = build_image(&in);
    const char *path = write_scratch(image, 0);

    std::string diagnostics;
    patch_target *t = scan_path(path, &diagnostics);
    FUZZ_CHECK(t != nullptr, "a regular file was not opened");
    FUZZ_CHECK(t->file_size == static_cast<int64_t>(image.size()));
    expect_same_scan(scan_of(t, diagnostics), reference_scan(image));
    close_target(t);
    FUZZ_CHECK(read_whole(path) == image, "the scan changed the file");
    return 0;
}
