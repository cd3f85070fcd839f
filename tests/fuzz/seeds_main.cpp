// fuzz_seeds HARNESS DIR: writes the harness's starting inputs into DIR.

#include <cstdio>
#include <string>

#include "fuzz_seeds.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds sig_stream|scan|apply DIR\n");
        return 1;
    }
    std::vector<bytes> seeds = fuzz_seeds(argv[1]);
    if (seeds.empty()) {
        std::fprintf(stderr, "fuzz_seeds: unknown harness %s\n", argv[1]);
        return 1;
    }
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::string path = std::string(argv[2]) + "/seed-" + std::to_string(i);
        std::FILE *f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            std::fprintf(stderr, "fuzz_seeds: cannot create %s\n", path.c_str());
            return 1;
        }
        std::size_t n = std::fwrite(seeds[i].data(), 1, seeds[i].size(), f);
        if (std::fclose(f) != 0 || n != seeds[i].size()) {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
