#pragma once

#include <cstdint>
#include <string>
#include <vector>

using bytes = std::vector<uint8_t>;

// The whole file; empty when it cannot be read.
bytes read_file(const std::string &path);
// Replaces the file's contents; false when that fails.
bool write_file(const std::string &path, const bytes &data);
