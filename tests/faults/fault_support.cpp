#include "fault_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tools/sample_image.h"

namespace fs = std::filesystem;

std::string scratch_dir()
{
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name)
        if (c == '/')
            c = '_';
    std::string dir = std::string(FAULT_SCRATCH_ROOT) + "/" + name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    EXPECT_FALSE(ec) << "cannot make " << dir << ": " << ec.message();
    return dir;
}

bytes game_image()
{
    static bytes image;
    if (image.empty()) {
        sample_recipe recipe;
        sample_defaults(&recipe, 2 * 65536 + 5000);
        std::string path = std::string(FAULT_SCRATCH_ROOT) + "/game-image-" + std::to_string(getpid());
        EXPECT_EQ(sample_write(path.c_str(), &recipe), 0);
        image = read_file(path);
        std::remove(path.c_str());
    }
    return image;
}

run_result run_injected(const std::string &program, const std::vector<std::string> &args,
                        const std::vector<std::string> &env, int timeout_seconds)
{
    std::vector<std::string> settings = env;
    settings.push_back(std::string("LD_PRELOAD=") + FAULT_INJECTOR);
    // The sanitizer runtime wants to be first; the injector only passes calls on.
    const char *asan = std::getenv("ASAN_OPTIONS");
    settings.push_back(std::string("ASAN_OPTIONS=verify_asan_link_order=0") + (asan ? std::string(":") + asan : ""));
    return run_program(program, args, timeout_seconds, -1, settings);
}

std::string runner_path()
{
    return FAULT_RUNNER;
}

std::string cli_path()
{
    return FAULT_CLI;
}

std::vector<std::string> cli_apply_args(const std::string &file)
{
    return {"apply",       file, "--start-year", "2010", "--wc06",   "--bosman-year", "2011",
            "--click-delay", "3",  "--exit-fix",   "on",   "--promoted", "4",           "--relegated", "2"};
}

std::vector<site_range> reported_sites(const std::string &out)
{
    std::vector<site_range> sites;
    std::istringstream in(out);
    std::string word;
    while (in >> word) {
        if (word != "site")
            continue;
        site_range s{};
        in >> s.name >> s.ofs >> s.len;
        sites.push_back(s);
    }
    return sites;
}

int reported_result(const std::string &out)
{
    std::size_t at = out.find("result ");
    return at == std::string::npos ? 1000 : std::atoi(out.c_str() + at + 7);
}

op_counts count_ops(const std::string &program, const std::vector<std::string> &args,
                    const std::string &file, const bytes &image)
{
    op_counts c{};
    std::string log = file + ".ops";
    EXPECT_TRUE(write_file(file, image));
    run_result r = run_injected(program, args, {"ZANDOR_FAULT_PATH=" + file, "ZANDOR_FAULT_LOG=" + log});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::FILE *f = std::fopen(log.c_str(), "r");
    EXPECT_NE(f, nullptr) << "the injector wrote no log: was it loaded?";
    if (f == nullptr)
        return c;
    char name[32];
    long calls = 0, fired = 0;
    while (std::fscanf(f, "%31s %ld %ld", name, &calls, &fired) == 3) {
        std::string n = name;
        long *slot = n == "fread"    ? &c.fread_calls
                     : n == "fwrite" ? &c.fwrite_calls
                     : n == "fseek"  ? &c.fseek_calls
                     : n == "fflush" ? &c.fflush_calls
                     : n == "fclose" ? &c.fclose_calls
                                     : &c.update_opens;
        *slot = calls;
    }
    std::fclose(f);
    std::remove(log.c_str());
    return c;
}

std::string mixed_difference(const bytes &got, const bytes &before, const bytes &after,
                             const std::vector<site_range> &sites)
{
    if (got.size() != before.size())
        return "the length changed from " + std::to_string(before.size()) + " to " + std::to_string(got.size());
    std::vector<int> owner(before.size(), -1);
    for (std::size_t i = 0; i < sites.size(); ++i)
        for (int64_t k = sites[i].ofs; k < sites[i].ofs + sites[i].len; ++k)
            owner[static_cast<std::size_t>(k)] = static_cast<int>(i);
    for (std::size_t k = 0; k < got.size(); ++k)
        if (owner[k] < 0 && got[k] != before[k])
            return "byte " + std::to_string(k) + " outside every site changed";
    for (const site_range &s : sites) {
        auto from = static_cast<std::size_t>(s.ofs), to = static_cast<std::size_t>(s.ofs + s.len);
        bool as_before = std::equal(got.begin() + from, got.begin() + to, before.begin() + from);
        bool as_after = std::equal(got.begin() + from, got.begin() + to, after.begin() + from);
        if (!as_before && !as_after)
            return "site " + s.name + " is only partly written";
    }
    return "";
}

bytes with_sites(const bytes &before, const bytes &after, const std::vector<site_range> &sites)
{
    bytes out = before;
    for (const site_range &s : sites)
        std::copy(after.begin() + s.ofs, after.begin() + s.ofs + s.len, out.begin() + s.ofs);
    return out;
}
