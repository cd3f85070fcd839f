// The signature search stream against the plain search: every occurrence, in
// order, then -1 for good. The signature is a site's, or a piece of the image
// itself (so that it occurs), now and then with its last byte off (so that it
// nearly does). Half the inputs search by the plain path, the others by the
// fastest this build has.

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
    if (pick & 0x40)
        s->find = sig_find_plain;  // what builds without SSE2 search with
    for (const int64_t at : want)
        fuzz_check(sig_stream_next(s) == at, "an occurrence missed, added or out of order");
    fuzz_check(sig_stream_next(s) == -1, "an occurrence past the last one");
    fuzz_check(sig_stream_next(s) == -1, "an occurrence after -1");
    fuzz_check(!s->failed, "a readable file reported as failed");
    sig_stream_close(s);
    return 0;
}
