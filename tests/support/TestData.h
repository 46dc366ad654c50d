#pragma once

// Small makers and readers of test data shared by the suites.

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tarnwick::testing {

// size bytes of a lower-case pattern that repeats every 23 bytes, so that a byte out of place
// shows in a comparison.
inline std::string PatternText(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + i % 23);
    return s;
}

// A whole file's bytes; empty when it cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tarnwick::testing
