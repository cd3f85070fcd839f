#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

using bytes = std::vector<uint8_t>;

// The whole file; empty when it cannot be read.
inline bytes read_file(const std::string &path)
{
    return bytes(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

// Replaces the file's contents; false when that fails.
inline bool write_file(const std::string &path, const bytes &data)
{
    const auto n = static_cast<std::streamsize>(data.size());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out.write(reinterpret_cast<const char *>(data.data()), n).flush());
}

// Each name in a folder with what it holds: a file's bytes, a link's target,
// "folder" for a folder; to tell that a run made, removed or changed nothing
// there.
inline std::map<std::string, std::string> folder_snapshot(const std::string &dir)
{
    std::map<std::string, std::string> seen;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        const bytes b = e.is_symlink() || e.is_directory() ? bytes{} : read_file(e.path());
        seen[e.path().filename()] = e.is_symlink()     ? "link to " + std::filesystem::read_symlink(e.path(), ec).string()
                                    : e.is_directory() ? "folder"
                                                       : std::string(b.begin(), b.end());
    }
    return seen;
}
