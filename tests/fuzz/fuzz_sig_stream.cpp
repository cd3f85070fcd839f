// The signature search stream against the plain search: every occurrence, in
// order, then -1 for good. The signature is a site's, or a piece of the image
// itself (so that it occurs), now and then with its last byte off (so that it
// nearly does).

#include "fuzz.h"
#include "patch/sig_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz_input in{data, size, 0};
    const uint32_t pick = take(&in, 1), from = take(&in, 3), len = 1 + take(&in, 1) % 70;
    const bytes image = build_image(&in);
    const site_entry &e = patch_catalogue[pick % SITE_COUNT];
    bytes sig(e.sig, e.sig + e.sig_len);
    if (pick % 16 >= SITE_COUNT && !image.empty()) {
        const auto start = image.begin() + from % image.size();
        sig.assign(start, start + std::min<std::ptrdiff_t>(len, image.end() - start));
        if (pick & 0x80)
            sig.back() ^= 1;
    }

    const std::vector<int64_t> want = reference_search(image, sig);
    sig_stream *s = sig_stream_open(scratch_file(image), static_cast<int32_t>(sig.size()), sig.data());
    fuzz_check(s != nullptr, "no stream");
    // Each match starts a fresh 64 KiB window, so a file full of matches
    // costs a window per match: the first ones are enough.
    const std::size_t checked = std::min<std::size_t>(want.size(), 24);
    for (std::size_t i = 0; i < checked; ++i)
        fuzz_check(sig_stream_next(s) == want[i], "an occurrence missed, added or out of order");
    if (checked == want.size()) {
        fuzz_check(sig_stream_next(s) == -1, "an occurrence past the last one");
        fuzz_check(sig_stream_next(s) == -1, "an occurrence after -1");
    }
    fuzz_check(!s->failed, "a readable file reported as failed");
    sig_stream_close(s);
    return 0;
}
