// Runs a harness without libFuzzer over every file in the folders given (the
// starting inputs, and the inputs kept from fixed faults). A failed check
// aborts, as under the fuzzer, naming the input.

#include <cstdio>
#include <filesystem>

#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(argv[i], ec)) {
            const bytes input = read_file(fuzz_input_name = entry.path().string());
            count += LLVMFuzzerTestOneInput(input.data(), input.size()) == 0;
        }
        fuzz_check(!ec, "a folder of inputs cannot be read");
    }
    std::printf("%d inputs passed\n", count);
    return count > 0 ? 0 : 1;
}
