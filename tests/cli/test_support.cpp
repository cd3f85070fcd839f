#include "test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

std::string make_temp_dir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "zandor-test-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        return std::string();
    return std::string(buf.data());
}

void remove_tree(const std::string &dir)
{
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

std::vector<int64_t> find_all(const bytes &data, const uint8_t *sig, int32_t len)
{
    std::vector<int64_t> hits;
    const auto n = static_cast<int64_t>(data.size());
    for (int64_t i = 0; i + len <= n; ++i)
        if (data[static_cast<size_t>(i)] == sig[0]
            && std::memcmp(data.data() + i, sig, static_cast<size_t>(len)) == 0)
            hits.push_back(i);
    return hits;
}

std::vector<int64_t> find_site(const bytes &data, site_id site)
{
    return find_all(data, patch_catalogue[site].sig, patch_catalogue[site].sig_len);
}

bool make_image(const std::string &path, const sample_recipe &recipe, sample_recipe *placed)
{
    if (placed != nullptr && sample_layout(&recipe, placed) != 0)
        return false;
    return sample_write(path.c_str(), &recipe) == 0;
}
