// scan_target on a 64 MiB sample image, against the floor of reading that
// file seven times (once per site) in 64 KiB windows. A measurement only:
// nothing here judges the numbers.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "patch/catalogue.h"
#include "patch/patch_target.h"
#include "patch/sig_stream.h"
#include "tools/sample_image.h"

namespace {

constexpr int64_t image_size = int64_t{64} << 20;
constexpr std::size_t window = 65536;

// One image for the whole run, every site in the game's state, spread out.
const std::string &image_path()
{
    static std::string path;
    if (path.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        path = std::string(tmp != nullptr ? tmp : "/tmp") + "/zandor-bench-image.exe";
        sample_recipe recipe;
        sample_defaults(&recipe, image_size);
        if (sample_write(path.c_str(), &recipe) != 0) {
            std::fprintf(stderr, "scan_bench: cannot write %s\n", path.c_str());
            std::exit(1);
        }
    }
    return path;
}

void read_floor(benchmark::State &state)
{
    const std::string &path = image_path();
    std::vector<unsigned char> buf(window);
    for (auto _ : state) {
        for (int pass = 0; pass < SITE_COUNT; ++pass) {
            std::FILE *f = std::fopen(path.c_str(), "rb");
            if (f == nullptr) {
                state.SkipWithError("cannot open the image");
                return;
            }
            std::size_t n;
            while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0)
                benchmark::DoNotOptimize(buf.data());
            std::fclose(f);
        }
    }
    state.SetBytesProcessed(state.iterations() * image_size * SITE_COUNT);
}
BENCHMARK(read_floor)->Unit(benchmark::kMillisecond);

void scan_whole_image(benchmark::State &state)
{
    const std::string &path = image_path();
    for (auto _ : state) {
        patch_target *t = open_target(path.c_str());
        if (t == nullptr) {
            state.SkipWithError("cannot open the image");
            return;
        }
        scan_target(t);
        benchmark::DoNotOptimize(t->conf_promoted_ofs);
        close_target(t);
    }
    state.SetBytesProcessed(state.iterations() * image_size * SITE_COUNT);
}
BENCHMARK(scan_whole_image)->Unit(benchmark::kMillisecond);

// One site's two searches, to see which signature costs most.
void search_one_site(benchmark::State &state)
{
    const std::string &path = image_path();
    const site_entry &e = patch_catalogue[state.range(0)];
    state.SetLabel(e.name);
    for (auto _ : state) {
        sig_stream *s = sig_stream_open(path.c_str(), e.sig_len, e.sig);
        benchmark::DoNotOptimize(sig_stream_next(s));
        benchmark::DoNotOptimize(sig_stream_next(s));
        sig_stream_close(s);
    }
    state.SetBytesProcessed(state.iterations() * image_size);
}
BENCHMARK(search_one_site)->DenseRange(0, SITE_COUNT - 1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
