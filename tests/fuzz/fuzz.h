#pragma once

// Shared by the fuzz harnesses and their replay: a reader over the fuzzer's
// bytes, the structured image builder, and the plain reference search and
// scan that the core is checked against. reference_search is the tests' one
// reference search: other tests link zandor_fuzz_support for it.

#include <cstdint>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "patch/patch_target.h"

// Aborts, so that the fuzzer keeps the input, naming the caller's line and
// the replayed input. (The fuzz preset's clang lacks std::source_location;
// its builtins give the same.)
struct fuzz_where {
    const char *file;
    int line;
};
void fuzz_check(bool ok, const char *what, fuzz_where at = {__builtin_FILE(), __builtin_LINE()});
extern std::string fuzz_input_name;

struct fuzz_input {
    const uint8_t *data;
    std::size_t size, pos;
};
// The next `n` bytes as a little-endian number; bytes past the end read 0.
uint32_t take(fuzz_input *in, int n);

// A file image: the rest of the input as it is (first byte 0xe0 or more), or
// a size near a window edge, a filler, then pieces of sites (signatures,
// blocks in every state, signature fragments) planted at window edges, at the
// end of the file, or after or over the previous piece.
bytes build_image(fuzz_input *in);
// A file of this process, under /dev/shm where there is one, holding `data`.
const char *scratch_file(const bytes &data);

// Every start at which `sig` lies wholly within the first 2 GiB - 1 bytes.
std::vector<int64_t> reference_search(const bytes &image, const bytes &sig);

// Where parameter `k` of a site's patched block lies.
inline std::size_t param_pos(int site, int k = 0)
{
    return static_cast<std::size_t>(patch_catalogue[site].params[k].pos);
}

// Opens and scans `path`, which holds `image`, and checks every field the
// scan fills in against the reference classifier.
patch_target *scan_checked(const char *path, const bytes &image, fuzz_where at = {__builtin_FILE(), __builtin_LINE()});
