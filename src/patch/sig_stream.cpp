#include "patch/sig_stream.h"

#include <cstdlib>
#include <cstring>

#include "patch/file_io.h"

namespace {

constexpr int32_t window_size = 65536;

// How often a byte turns up in x86 code and its padding: 0 for most bytes.
int commonness(uint8_t b)
{
    switch (b) {
    case 0x00:
        return 4;
    case 0xff:
    case 0x90:
        return 3;
    case 0xcc:
        return 2;
    case 0x01:
    case 0x24:
    case 0x89:
    case 0x8b:
        return 1;
    default:
        return 0;
    }
}

// The signature position whose byte is least likely in an executable:
// candidates are found by that byte, so common ones (zeros, NOP filler)
// would stop the search at nearly every byte.
std::size_t rarest_position(const uint8_t *sig, std::size_t len)
{
    std::size_t best = 0;
    for (std::size_t i = 1; i < len; ++i)
        if (commonness(sig[i]) < commonness(sig[best]))
            best = i;
    return best;
}

// Offset of the first start in buf[0..n) at which the whole signature
// matches, or -1. Candidates come in increasing order of start, so the first
// one whose bytes all match is the one a plain byte-by-byte scan would give.
int64_t find_in_window(const uint8_t *buf, std::size_t n, const uint8_t *sig, std::size_t len)
{
    const std::size_t anchor = rarest_position(sig, len);
    const uint8_t *p = buf + anchor;              // the anchor byte of start p - anchor
    const uint8_t *last = buf + (n - len) + anchor;
    while (p <= last) {
        const void *hit = std::memchr(p, sig[anchor], static_cast<std::size_t>(last - p) + 1);
        if (hit == nullptr)
            return -1;
        p = static_cast<const uint8_t *>(hit);
        if (std::memcmp(p - anchor, sig, len) == 0)
            return (p - anchor) - buf;
        ++p;
    }
    return -1;
}

} // namespace

sig_stream *sig_stream_open(const char *path, int32_t sig_len, const uint8_t *sig)
{
    if (sig_len < 1)
        return nullptr;
    auto *s = static_cast<sig_stream *>(std::calloc(1, sizeof(sig_stream)));
    if (s == nullptr)
        return nullptr;
    s->window = window_size;
    s->sig_len = sig_len;
    s->sig = sig;
    s->pos = 0;
    s->buffer = static_cast<uint8_t *>(std::malloc(static_cast<std::size_t>(window_size) + static_cast<std::size_t>(sig_len)));
    if (s->buffer == nullptr) {
        std::free(s);
        return nullptr;
    }
    s->file = std::fopen(path, "rb");
    s->failed = s->file == nullptr ? 1 : 0;
    // Every window is read whole at a fresh position: a stdio buffer would
    // only copy each byte twice and read ahead what the next seek throws away.
    if (s->file != nullptr)
        std::setvbuf(s->file, nullptr, _IONBF, 0);
    return s;
}

int32_t sig_stream_next(sig_stream *s)
{
    if (s == nullptr || s->file == nullptr)
        return -1;
    const int64_t full = static_cast<int64_t>(s->window) + s->sig_len;
    for (;;) {
        // Offsets are signed 32-bit: bytes from 2 GiB - 1 on are never searched.
        int64_t room = INT32_MAX - static_cast<int64_t>(s->pos);
        std::size_t want = static_cast<std::size_t>(room < full ? room : full);
        if (std::fseek(s->file, s->pos, SEEK_SET) != 0) {
            s->failed = 1;
            return -1;
        }
        std::size_t n = std::fread(s->buffer, 1, want, s->file);
        if (n < want && std::ferror(s->file) != 0)
            s->failed = 1;  // the window read is still searched, but the caller is told
        if (n < static_cast<std::size_t>(s->sig_len))
            return -1;
        int64_t at = find_in_window(s->buffer, n, s->sig, static_cast<std::size_t>(s->sig_len));
        if (at >= 0) {
            int32_t match = s->pos + static_cast<int32_t>(at);
            s->pos = match + 1;
            return match;
        }
        s->pos += static_cast<int32_t>(n) - s->sig_len;
        if (static_cast<int64_t>(n) < full)
            return -1;
    }
}

void sig_stream_close(sig_stream *s)
{
    if (s == nullptr)
        return;
    std::free(s->buffer);
    close_file(s->file);
    std::free(s);
}
