// The signature search stream against a plain search, on files built around
// the 64 KiB window edges: every occurrence, in order, then -1 for good.

#include <cstring>

#include "fuzz_support.h"
#include "patch/sig_stream.h"

namespace {

constexpr int64_t W = 65536;
constexpr std::size_t MAX_CHECKED = 24;

bytes signature(fuzz_input *in)
{
    uint8_t pick = take_u8(in);
    if (pick % 16 < SITE_COUNT) {
        const site_entry &e = patch_catalogue[pick % 16];
        return bytes(e.sig, e.sig + e.sig_len);
    }
    bytes sig(1 + take_u8(in) % 70);
    for (uint8_t &b : sig)
        b = take_u8(in);
    return sig;
}

bytes image_for(const bytes &sig, fuzz_input *in)
{
    uint8_t mode = take_u8(in);
    int64_t size = 0;
    switch (mode % 4) {
    case 0:
        size = take_u8(in) % 160;
        break;
    case 1:
        size = take_u16(in) % 4096;
        break;
    case 2:
        size = W - 200 + take_u16(in) % 400;
        break;
    default:
        size = 2 * W - 200 + take_u16(in) % 400;
        break;
    }
    // Filler made of the signature's own bytes gives many near misses.
    bytes image(static_cast<std::size_t>(size));
    uint8_t filler = (mode & 4) ? sig[0] : take_u8(in);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = (mode & 8) ? sig[i % sig.size()] : filler;

    const auto L = static_cast<int64_t>(sig.size());
    int64_t prev = 0;
    int pieces = take_u8(in) % 9;
    for (int i = 0; i < pieces && input_left(in) > 0; ++i) {
        uint8_t how = take_u8(in);
        auto delta = static_cast<int8_t>(take_u8(in));
        bytes piece = sig;
        if (how & 1)
            piece.resize(1 + take_u8(in) % sig.size());     // a prefix: a near miss
        if (how & 2)
            piece[take_u8(in) % piece.size()] ^= 0x01;     // one byte off
        int64_t start = 0;
        switch ((how >> 2) % 4) {
        case 0:
            start = W * (1 + take_u8(in) % 2) + delta;
            break;
        case 1:
            start = size - L + delta;
            break;
        case 2:
            start = prev + delta;  // overlapping or adjacent occurrences
            break;
        default:
            start = size > 0 ? take_u24(in) % size : 0;
            break;
        }
        for (std::size_t k = 0; k < piece.size(); ++k) {
            int64_t at = start + static_cast<int64_t>(k);
            if (at >= 0 && at < size)
                image[static_cast<std::size_t>(at)] = piece[k];
        }
        prev = start;
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz_input in{data, size, 0};
    bytes sig = signature(&in);
    bytes image = image_for(sig, &in);
    const char *path = write_scratch(image, 0);

    std::vector<int64_t> want = reference_search(image, sig.data(), sig.size());
    sig_stream *s = sig_stream_open(path, static_cast<int32_t>(sig.size()), sig.data());
    FUZZ_CHECK(s != nullptr);
    // Each match starts a fresh 64 KiB window, so a file full of matches
    // costs a window per match: the first ones are enough.
    const std::size_t checked = want.size() < MAX_CHECKED ? want.size() : MAX_CHECKED;
    for (std::size_t i = 0; i < checked; ++i)
        FUZZ_CHECK(sig_stream_next(s) == want[i], "an occurrence missed, added or out of order");
    if (checked == want.size()) {
        FUZZ_CHECK(sig_stream_next(s) == -1, "a search past the last occurrence");
        FUZZ_CHECK(sig_stream_next(s) == -1, "a search after -1");
    }
    FUZZ_CHECK(!s->failed, "a readable file reported as failed");
    sig_stream_close(s);
    return 0;
}
