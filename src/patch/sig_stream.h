#pragma once

#include <cstdint>
#include <cstdio>

struct sig_stream;

// The first start in buf[from..n) at which the stream's whole signature
// matches, or -1. Candidates must hold the signature's two `pair` bytes;
// each path finds them its own way and gives the same answers.
using sig_find_fn = int32_t(const sig_stream *s, const uint8_t *buf, int32_t from, int32_t n);
// memchr on the rarer pair byte: any build.
int32_t sig_find_plain(const sig_stream *s, const uint8_t *buf, int32_t from, int32_t n);
#if defined(__SSE2__)
// Both pair bytes compared for 64 starts at a time.
int32_t sig_find_sse2(const sig_stream *s, const uint8_t *buf, int32_t from, int32_t n);
#endif
#if defined(__SSE2__) && defined(__GNUC__)
// The same, 32 starts per compare: only where the processor has AVX2 (GCC
// and Clang build its block loop for it, the rest stays baseline).
int32_t sig_find_avx2(const sig_stream *s, const uint8_t *buf, int32_t from, int32_t n);
#endif
constexpr int32_t sig_find_max_paths = 3;
// The paths this build and processor have, slowest first (the plain one), and
// how many; a stream searches with the last.
int32_t sig_find_paths(sig_find_fn *paths[sig_find_max_paths]);

// A forward search of one byte signature through a file, read front to back
// in windows of 64 KiB; the last sig_len - 1 bytes of a window stay for the
// next, just in front of where the next read lands. Offsets are signed
// 32-bit: only the first 2 GiB - 1 bytes of a file are searched.
struct sig_stream {
    std::FILE *file;      // own read handle; null when the file could not be opened
    int32_t pos;          // file offset of the buffer's byte `start`
    int32_t start;        // buffer index of the first byte kept or read
    int32_t have;         // bytes of the file from `start` on
    int32_t next;         // index from `start` of the next start to try
    int32_t window;       // bytes per read
    int32_t head;         // buffer index every read goes to: 16-byte aligned,
                          // with room for the kept bytes in front
    uint8_t *buffer;      // sig_len + 15 + window bytes
    int32_t sig_len;      // at least 1
    const uint8_t *sig;   // borrowed
    int32_t pair[2];      // positions of two bytes rare in x86 code, far apart;
                          // pair[0] the rarer (the same one when sig_len is 1)
    sig_find_fn *find;    // the fastest path this build and processor have
    int32_t ended;        // 1 once a read came back short: no more to read
    int32_t failed;       // 1 once the file could not be opened or read:
                          // a -1 may then hide occurrences
};

// Null only when memory is short. A file that cannot be opened gives a
// stream that answers every search with -1 and is marked failed; so does one
// that is no regular file or, with `same_as` given, not the file that handle
// has open (it was replaced meanwhile). The open never blocks.
sig_stream *sig_stream_open(const char *path, int32_t sig_len, const uint8_t *sig, std::FILE *same_as = nullptr);
// Offset of the next occurrence after the last one returned, or -1 at the
// end of the file or once a read has failed (`failed` then tells).
int32_t sig_stream_next(sig_stream *s);
void sig_stream_close(sig_stream *s);
