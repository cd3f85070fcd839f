// scan_target on two 64 MiB sample images, random filler and real 32-bit x86
// code, against the floor of reading that file seven times (once per site)
// in 64 KiB windows. A measurement only: nothing here judges the numbers.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "patch/catalogue.h"
#include "patch/patch_target.h"
#include "patch/sig_stream.h"
#include "tools/sample_image.h"

namespace {

constexpr int64_t image_size = int64_t{64} << 20;
constexpr std::size_t window = 65536;

enum image_kind { RANDOM_FILLER, X86_CODE, IMAGE_KINDS };
const char *const image_names[IMAGE_KINDS] = {"random", "x86-code"};
// The code image needs the MinGW libraries at build time; without them the
// build names no file and only the random one is timed.
constexpr bool have_x86_code = sizeof X86_CODE_FILE > 1;
constexpr int images_timed = have_x86_code ? IMAGE_KINDS : X86_CODE;

std::vector<uint8_t> read_whole(const char *path)
{
    std::vector<uint8_t> bytes;
    if (std::FILE *f = std::fopen(path, "rb")) {
        uint8_t buf[window];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }
    return bytes;
}

// One image of each kind for the whole run, every site in the game's state,
// spread out. The code one repeats what tools/x86_code.sh took from the
// MinGW libraries at build time.
const std::string &image_path(int kind)
{
    static std::string paths[IMAGE_KINDS];
    std::string &path = paths[kind];
    if (path.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        path = std::string(tmp != nullptr ? tmp : "/tmp") + "/zandor-bench-" + image_names[kind] + ".exe";
        sample_recipe recipe;
        sample_defaults(&recipe, image_size);
        std::vector<uint8_t> code;
        if (kind == X86_CODE) {
            code = read_whole(X86_CODE_FILE);
            recipe.filler = code.data();
            recipe.filler_len = static_cast<int64_t>(code.size());
        }
        if ((kind == X86_CODE && code.empty()) || sample_write(path.c_str(), &recipe) != 0) {
            std::fprintf(stderr, "scan_bench: cannot write %s (code from %s)\n", path.c_str(), X86_CODE_FILE);
            std::exit(1);
        }
    }
    return path;
}

// The floor: the image read once per site, window by window.
bool read_per_site(const std::string &path, std::vector<unsigned char> *buf)
{
    for (int pass = 0; pass < SITE_COUNT; ++pass) {
        std::FILE *f = std::fopen(path.c_str(), "rb");
        if (f == nullptr)
            return false;
        while (std::fread(buf->data(), 1, buf->size(), f) > 0)
            benchmark::DoNotOptimize(buf->data());
        std::fclose(f);
    }
    return true;
}

bool scan_once(const std::string &path)
{
    patch_target *t = open_target(path.c_str());
    if (t == nullptr)
        return false;
    scan_target(t);
    benchmark::DoNotOptimize(t->conf_promoted_ofs);
    close_target(t);
    return true;
}

void read_floor(benchmark::State &state)
{
    const std::string &path = image_path(static_cast<int>(state.range(0)));
    state.SetLabel(image_names[state.range(0)]);
    std::vector<unsigned char> buf(window);
    for (auto _ : state)
        if (!read_per_site(path, &buf))
            state.SkipWithError("cannot open the image");
    state.SetBytesProcessed(state.iterations() * image_size * SITE_COUNT);
}
BENCHMARK(read_floor)->DenseRange(0, images_timed - 1)->Unit(benchmark::kMillisecond);

void scan_whole_image(benchmark::State &state)
{
    const std::string &path = image_path(static_cast<int>(state.range(0)));
    state.SetLabel(image_names[state.range(0)]);
    for (auto _ : state)
        if (!scan_once(path))
            state.SkipWithError("cannot open the image");
    state.SetBytesProcessed(state.iterations() * image_size * SITE_COUNT);
}
BENCHMARK(scan_whole_image)->DenseRange(0, images_timed - 1)->Unit(benchmark::kMillisecond);

// The floor and the scan in turn, so that other work on the machine weighs on
// both alike: each one's time per run, and the scan's over the floor's, in
// processor time (ratio) and in wall time (wall_ratio).
void scan_over_floor(benchmark::State &state)
{
    const std::string &path = image_path(static_cast<int>(state.range(0)));
    state.SetLabel(image_names[state.range(0)]);
    std::vector<unsigned char> buf(window);
    double floor_cpu = 0, scan_cpu = 0, floor_wall = 0, scan_wall = 0;
    for (auto _ : state) {
        const std::clock_t c0 = std::clock();
        const auto w0 = std::chrono::steady_clock::now();
        const bool read = read_per_site(path, &buf);
        const std::clock_t c1 = std::clock();
        const auto w1 = std::chrono::steady_clock::now();
        const bool scanned = scan_once(path);
        floor_cpu += static_cast<double>(c1 - c0) / CLOCKS_PER_SEC;
        scan_cpu += static_cast<double>(std::clock() - c1) / CLOCKS_PER_SEC;
        floor_wall += std::chrono::duration<double>(w1 - w0).count();
        scan_wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w1).count();
        if (!read || !scanned)
            state.SkipWithError("cannot open the image");
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["floor_ms"] = floor_cpu / runs * 1e3;
    state.counters["scan_ms"] = scan_cpu / runs * 1e3;
    state.counters["ratio"] = scan_cpu / floor_cpu;
    state.counters["wall_ratio"] = scan_wall / floor_wall;
}
BENCHMARK(scan_over_floor)->DenseRange(0, images_timed - 1)->Unit(benchmark::kMillisecond)->Repetitions(5);

// One site's two searches, to see which signature costs most.
void search_one_site(benchmark::State &state)
{
    const std::string &path = image_path(static_cast<int>(state.range(0)));
    const site_entry &e = patch_catalogue[state.range(1)];
    state.SetLabel(std::string(image_names[state.range(0)]) + " " + e.name);
    for (auto _ : state) {
        sig_stream *s = sig_stream_open(path.c_str(), e.sig_len, e.sig);
        benchmark::DoNotOptimize(sig_stream_next(s));
        benchmark::DoNotOptimize(sig_stream_next(s));
        sig_stream_close(s);
    }
    state.SetBytesProcessed(state.iterations() * image_size);
}
BENCHMARK(search_one_site)
    ->ArgsProduct({benchmark::CreateDenseRange(0, images_timed - 1, 1),
                   benchmark::CreateDenseRange(0, SITE_COUNT - 1, 1)})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (!have_x86_code)
        std::fprintf(stderr, "scan_bench: built without the i686 MinGW libraries: no x86-code image\n");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
