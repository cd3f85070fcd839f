#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
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
