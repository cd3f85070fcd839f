// The signature search stream against the plain search: every occurrence, in
// order, then -1 for good. The signature is a site's, or a piece of the image
// itself (so that it occurs), now and then with its last byte off (so that it
// nearly does). Bits 0x20 and 0x40 of the first byte force each search path
// this build and processor have in turn, or keep the one the stream chose.

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
    if (s == nullptr)
        return 0;
    sig_find_fn *paths[sig_find_max_paths];
    const uint32_t had = static_cast<uint32_t>(sig_find_paths(paths));
    if ((pick & 0x60) != 0)  // 0x20 plain, 0x40 SSE2, 0x60 AVX2; round again when fewer
        s->find = paths[((pick >> 5 & 3) - 1) % had];
    for (const int64_t at : want)
        fuzz_check(sig_stream_next(s) == at, "an occurrence missed, added or out of order");
    fuzz_check(sig_stream_next(s) == -1, "an occurrence past the last one");
    fuzz_check(sig_stream_next(s) == -1, "an occurrence after -1");
    fuzz_check(!s->failed, "a readable file reported as failed");
    sig_stream_close(s);
    return 0;
}
