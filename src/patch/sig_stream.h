#pragma once

#include <cstdint>
#include <cstdio>

// A forward search of one byte signature through a file, in windows of
// 64 KiB that overlap by one signature length. Offsets are signed 32-bit:
// only the first 2 GiB - 1 bytes of a file are searched.
struct sig_stream {
    std::FILE *file;      // own read handle; null when the file could not be opened
    int32_t pos;          // file offset of the next window
    int32_t window;       // advance of a full window
    uint8_t *buffer;      // window + sig_len bytes
    int32_t sig_len;      // at least 1
    const uint8_t *sig;   // borrowed
    int32_t failed;       // 1 once the file could not be opened, positioned or
                          // read: a -1 may then hide occurrences
};

// Null only when memory is short. A file that cannot be opened gives a
// stream that answers every search with -1.
sig_stream *sig_stream_open(const char *path, int32_t sig_len, const uint8_t *sig);
// Offset of the next occurrence at or after pos, or -1 at the end of the
// file or once a seek or read has failed (`failed` then tells).
int32_t sig_stream_next(sig_stream *s);
void sig_stream_close(sig_stream *s);
