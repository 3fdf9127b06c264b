// Small file helpers for the host file tests: a file written whole from a
// text, and what a descriptor holds from its start (up to 64 bytes).
// Header-only; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "kes/host_file.hpp"

namespace kes_test {

inline void WriteText(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadAll(int fd) {
    std::string text(64, '\0');
    const int64_t got = korvo::host::ReadFileAt(fd, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

}  // namespace kes_test
