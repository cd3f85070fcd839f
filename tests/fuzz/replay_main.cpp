// Runs a harness without libFuzzer: over its starting inputs (--seeds) and
// over every file given or found in a folder given, such as the inputs kept
// from fixed faults. A failed check aborts, as under the fuzzer.

#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

namespace {

int run_bytes(const bytes &input)
{
    return LLVMFuzzerTestOneInput(input.data(), input.size());
}

int run_path(const std::filesystem::path &p, int *count)
{
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) {
        for (const auto &entry : std::filesystem::directory_iterator(p, ec))
            if (entry.is_regular_file() && run_path(entry.path(), count) != 0)
                return 1;
        return ec ? 1 : 0;
    }
    bytes input = read_whole(p.c_str());
    ++*count;
    return run_bytes(input);
}

} // namespace

int main(int argc, char **argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--seeds") {
            for (const bytes &seed : fuzz_seeds(FUZZ_HARNESS)) {
                ++count;
                if (run_bytes(seed) != 0)
                    return 1;
            }
        } else if (run_path(arg, &count) != 0) {
            std::fprintf(stderr, "%s: cannot run %s\n", argv[0], arg.c_str());
            return 1;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "%s: no inputs\n", argv[0]);
        return 1;
    }
    std::printf("%s: %d inputs passed\n", FUZZ_HARNESS, count);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
