#include "patch/sig_stream.h"

#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "patch/file_io.h"

namespace {

constexpr int32_t window_size = 65536;

// How common each byte is in 32-bit x86 code: floor(log2(share * 4096)),
// clamped to 0..9, so that each step doubles. Counted over the code sections
// of the i686 MinGW runtime libraries (7.8 MB; 0x00 alone is 14 %).
const uint8_t commonness[256] = {
    9, 6, 4, 4, 6, 3, 3, 2, 5, 3, 2, 2, 4, 2, 1, 6, // 0x00
    4, 3, 2, 2, 4, 2, 1, 1, 4, 2, 1, 1, 4, 2, 1, 2, // 0x10
    4, 1, 0, 0, 8, 1, 4, 0, 3, 3, 0, 1, 4, 0, 0, 0, // 0x20
    3, 4, 0, 1, 3, 0, 0, 0, 3, 4, 0, 1, 3, 1, 0, 1, // 0x30
    4, 2, 1, 3, 6, 4, 2, 1, 3, 1, 0, 1, 4, 2, 1, 0, // 0x40
    3, 1, 1, 3, 5, 3, 2, 2, 3, 1, 0, 3, 4, 3, 3, 2, // 0x50
    3, 0, 1, 1, 2, 2, 3, 0, 2, 0, 0, 1, 3, 1, 1, 3, // 0x60
    4, 0, 1, 1, 5, 3, 2, 1, 2, 1, 0, 1, 4, 2, 2, 3, // 0x70
    3, 3, 1, 5, 5, 5, 1, 1, 3, 7, 1, 7, 3, 6, 2, 1, // 0x80
    5, 0, 0, 0, 4, 1, 0, 0, 2, 0, 0, 1, 3, 0, 0, 0, // 0x90
    2, 1, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 2, // 0xa0
    2, 0, 0, 0, 4, 0, 3, 2, 3, 1, 1, 1, 3, 1, 1, 1, // 0xb0
    5, 4, 3, 4, 4, 5, 3, 5, 3, 3, 2, 2, 2, 1, 1, 1, // 0xc0
    3, 2, 3, 2, 2, 1, 1, 1, 4, 4, 2, 3, 2, 3, 2, 2, // 0xd0
    3, 2, 2, 2, 2, 1, 1, 1, 5, 4, 2, 3, 3, 2, 1, 1, // 0xe0
    3, 2, 2, 2, 2, 1, 3, 3, 3, 3, 4, 3, 3, 3, 3, 7, // 0xf0
};

// The two signature positions whose bytes are least likely together in an
// executable, and of equally unlikely pairs the farthest apart: neighbouring
// bytes of code go together (an opcode and its operand byte), distant ones
// much less. Common bytes (zeros, NOP filler) would make nearly every
// position a candidate.
void choose_pair(const uint8_t *sig, int32_t len, int32_t pair[2])
{
    pair[0] = 0;
    pair[1] = 0;
    int best = 2 * 9 + 1;
    for (int32_t a = 0; a < len; ++a)
        for (int32_t b = a + 1; b < len; ++b) {
            const int cost = commonness[sig[a]] + commonness[sig[b]];
            if (cost < best || (cost == best && b - a > pair[1] - pair[0])) {
                best = cost;
                pair[0] = a;
                pair[1] = b;
            }
        }
    if (commonness[sig[pair[1]]] < commonness[sig[pair[0]]]) {
        const int32_t rarer = pair[1];
        pair[1] = pair[0];
        pair[0] = rarer;
    }
}

#if defined(__SSE2__)
// The first of the candidate starts i + k (bit k of `hits`) at which the
// whole signature lies, or -1.
int32_t first_match(const sig_stream *s, const uint8_t *buf, int32_t i, uint64_t hits)
{
    for (; hits != 0; hits &= hits - 1) {
        const int32_t at = i + __builtin_ctzll(hits);
        if (std::memcmp(buf + at, s->sig, static_cast<std::size_t>(s->sig_len)) == 0)
            return at;
    }
    return -1;
}

// 0xff at each of 16 starts whose two pair bytes match.
__m128i pair_hits(const uint8_t *at_a, const uint8_t *at_b, __m128i a, __m128i b)
{
    const __m128i in_a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at_a));
    const __m128i in_b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at_b));
    return _mm_and_si128(_mm_cmpeq_epi8(in_a, a), _mm_cmpeq_epi8(in_b, b));
}

// Bit k set when start k of a block of 64 holds both pair bytes.
uint64_t block_hits(const uint8_t *at_a, const uint8_t *at_b, __m128i a, __m128i b)
{
    uint64_t hits = 0;
    for (int k = 0; k < 64; k += 16) {
        const int mask = _mm_movemask_epi8(pair_hits(at_a + k, at_b + k, a, b));
        hits |= static_cast<uint64_t>(static_cast<uint32_t>(mask)) << k;
    }
    return hits;
}
#endif

#if defined(__SSE2__) && defined(__GNUC__)
// Bit k set when start k of a block of 64 holds both pair bytes.
__attribute__((target("avx2"))) uint64_t block_hits_avx2(const uint8_t *at_a, const uint8_t *at_b, __m256i a, __m256i b)
{
    uint64_t hits = 0;
    for (int k = 0; k < 64; k += 32) {
        const __m256i in_a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at_a + k));
        const __m256i in_b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at_b + k));
        const int mask = _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(in_a, a), _mm256_cmpeq_epi8(in_b, b)));
        hits |= static_cast<uint64_t>(static_cast<uint32_t>(mask)) << k;
    }
    return hits;
}
#endif

} // namespace

// Candidates come in increasing order of start, so the first one whose bytes
// all match is the one a plain byte-by-byte scan would give.
int32_t sig_find_plain(const sig_stream *s, const uint8_t *buf, int32_t from, int32_t n)
{
    const int32_t a = s->pair[0], b = s->pair[1], last = n - s->sig_len;
    for (int32_t i = from; i <= last; ++i) {
        const void *hit = std::memchr(buf + i + a, s->sig[a], static_cast<std::size_t>(last - i) + 1);
        if (hit == nullptr)
            return -1;
        i = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - buf) - a;
        if (buf[i + b] == s->sig[b] && std::memcmp(buf + i, s->sig, static_cast<std::size_t>(s->sig_len)) == 0)
            return i;
    }
    return -1;
}

#if defined(__SSE2__)
namespace {

// The first block of 64 starts from *i on, up to last_block, with a
// candidate: moves *i to it and gives its candidates (bit k: start *i + k),
// or moves *i past last_block and gives 0. Nearly all the search's time goes
// into these tight loops.
using next_block_fn = uint64_t(const sig_stream *s, const uint8_t *buf, int32_t *i, int32_t last_block);

uint64_t next_block_sse2(const sig_stream *s, const uint8_t *buf, int32_t *i, int32_t last_block)
{
    const uint8_t *at_a = buf + s->pair[0], *at_b = buf + s->pair[1];
    const __m128i a = _mm_set1_epi8(static_cast<char>(s->sig[s->pair[0]]));
    const __m128i b = _mm_set1_epi8(static_cast<char>(s->sig[s->pair[1]]));
    int32_t k = *i;
    for (; k <= last_block; k += 64) {
        const __m128i h0 = pair_hits(at_a + k, at_b + k, a, b);
        const __m128i h1 = pair_hits(at_a + k + 16, at_b + k + 16, a, b);
        const __m128i h2 = pair_hits(at_a + k + 32, at_b + k + 32, a, b);
        const __m128i h3 = pair_hits(at_a + k + 48, at_b + k + 48, a, b);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) != 0)
            break;
    }
    *i = k;
    return k <= last_block ? block_hits(at_a + k, at_b + k, a, b) : 0;
}

#if defined(__GNUC__)
__attribute__((target("avx2"))) uint64_t next_block_avx2(const sig_stream *s, const uint8_t *buf, int32_t *i,
                                                          int32_t last_block)
{
    const uint8_t *at_a = buf + s->pair[0], *at_b = buf + s->pair[1];
    const __m256i a = _mm256_set1_epi8(static_cast<char>(s->sig[s->pair[0]]));
    const __m256i b = _mm256_set1_epi8(static_cast<char>(s->sig[s->pair[1]]));
    int32_t k = *i;
    uint64_t hits = 0;
    for (; k <= last_block; k += 64)
        if ((hits = block_hits_avx2(at_a + k, at_b + k, a, b)) != 0)
            break;
    *i = k;
    return hits;
}
#endif

// In x86 code a pair of rare bytes turns up once in tens of thousands of
// positions, so a block of 64 starts almost never needs a closer look, and
// the search keeps up with reading the file. The blocks start where the
// rarer pair byte's loads are 16-byte aligned: loads that straddle two cache
// lines make the search about a sixth slower here. The few starts before
// the first block, and the fewer than 64 after the last, are searched plainly.
int32_t vector_search(const sig_stream *s, const uint8_t *buf, int32_t from, int32_t n, next_block_fn *next_block)
{
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(buf + s->pair[0] + from);
    int32_t i = from + static_cast<int32_t>((16 - a % 16) % 16);
    const int32_t head_end = i - 1 + s->sig_len;
    const int32_t head = sig_find_plain(s, buf, from, head_end < n ? head_end : n);
    if (head >= 0)
        return head;
    // Blocks whose 64 starts have the whole signature in the buffer.
    const int32_t last_block = n - s->sig_len - 63;
    for (;; i += 64) {
        const uint64_t hits = next_block(s, buf, &i, last_block);
        if (i > last_block)
            break;
        const int32_t at = first_match(s, buf, i, hits);
        if (at >= 0)
            return at;
    }
    return sig_find_plain(s, buf, i, n);
}

} // namespace

int32_t sig_find_sse2(const sig_stream *s, const uint8_t *buf, int32_t from, int32_t n)
{
    return vector_search(s, buf, from, n, next_block_sse2);
}
#endif

#if defined(__SSE2__) && defined(__GNUC__)
int32_t sig_find_avx2(const sig_stream *s, const uint8_t *buf, int32_t from, int32_t n)
{
    return vector_search(s, buf, from, n, next_block_avx2);
}
#endif

int32_t sig_find_paths(sig_find_fn *paths[sig_find_max_paths])
{
    int32_t count = 0;
    paths[count++] = sig_find_plain;
#if defined(__SSE2__)
    paths[count++] = sig_find_sse2;
#endif
#if defined(__SSE2__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2"))
        paths[count++] = sig_find_avx2;
#endif
    return count;
}

sig_stream *sig_stream_open(const char *path, int32_t sig_len, const uint8_t *sig, std::FILE *same_as)
{
    if (sig_len < 1)
        return nullptr;
    auto *s = static_cast<sig_stream *>(std::calloc(1, sizeof(sig_stream)));
    if (s == nullptr)
        return nullptr;
    s->window = window_size;
    s->sig_len = sig_len;
    s->sig = sig;
    choose_pair(sig, sig_len, s->pair);
    sig_find_fn *paths[sig_find_max_paths];
    const int32_t count = sig_find_paths(paths);
    s->find = paths[count - 1];
    s->buffer = static_cast<uint8_t *>(std::malloc(static_cast<std::size_t>(sig_len) + 15 + static_cast<std::size_t>(window_size)));
    if (s->buffer == nullptr) {
        std::free(s);
        return nullptr;
    }
    // The first 16-byte aligned spot with room for sig_len bytes in front.
    const std::uintptr_t room_end = reinterpret_cast<std::uintptr_t>(s->buffer) + static_cast<std::uintptr_t>(sig_len);
    s->head = sig_len + static_cast<int32_t>((16 - room_end % 16) % 16);
    s->start = s->head;
    s->file = open_same_file(path, same_as);
    s->failed = s->file == nullptr ? 1 : 0;
    // Every read is a whole window straight into the buffer: a stdio buffer
    // would only copy each byte twice.
    if (s->file != nullptr)
        std::setvbuf(s->file, nullptr, _IONBF, 0);
    return s;
}

int32_t sig_stream_next(sig_stream *s)
{
    if (s == nullptr || s->file == nullptr)
        return -1;
    for (;;) {
        const uint8_t *data = s->buffer + s->start;
        // cppcheck takes the call through the function pointer for the pointer itself.
        // cppcheck-suppress AssignmentAddressToInteger
        const int32_t at = s->find(s, data, s->next, s->have);
        if (at >= 0) {
            s->next = at + 1;
            return s->pos + at;
        }
        if (s->ended)
            return -1;
        // Every start that fits in the buffer is tried: keep the bytes of
        // those that do not, then read on from where the last read stopped.
        // Without a fast string copy the system copies into a misaligned
        // buffer up to a third slower, so the kept bytes go in front of
        // the aligned spot and the read lands on it.
        const int32_t keep_from = s->next > s->have - s->sig_len + 1 ? s->next : s->have - s->sig_len + 1;
        const int32_t kept = s->have - keep_from;
        std::memmove(s->buffer + s->head - kept, data + keep_from, static_cast<std::size_t>(kept));
        s->pos += keep_from;
        s->start = s->head - kept;
        s->have = kept;
        s->next = 0;
        // Offsets are signed 32-bit: bytes from 2 GiB - 1 on are never read.
        const int64_t room = INT32_MAX - (static_cast<int64_t>(s->pos) + s->have);
        const std::size_t want = static_cast<std::size_t>(room < s->window ? room : s->window);
        const std::size_t n = std::fread(s->buffer + s->head, 1, want, s->file);
        if (n < want || n == 0) {
            s->ended = 1;
            if (std::ferror(s->file) != 0)
                s->failed = 1;  // what was read is still searched, but the caller is told
        }
        s->have += static_cast<int32_t>(n);
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
