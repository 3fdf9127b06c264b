// Fuzzes the reading of "remote.dir": whatever the bytes, every directory
// line is at most 1023 bytes without a line feed, is no comment, and stands
// in the input; lines taken and lines skipped are at most the input's lines.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_scratch.hpp"
#include "stream/remote_dir_lines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using korvo::fuzz::check;
    if (size == 0)
        return 0;
    std::string bytes(reinterpret_cast<const char *>(data), size);
    struct Close {
        void operator()(std::FILE *file) const { std::fclose(file); }
    };
    // The reader reads a FILE: the input becomes a file of its own, read
    // in binary mode so that every byte arrives as it is.
    static const korvo::fuzz::RunScratch scratch("korvo_fuzz_lines_");
    static const std::string path = scratch.file("remote.dir");
    korvo::fuzz::write_bytes(path, bytes);
    const std::unique_ptr<std::FILE, Close> file(std::fopen(path.c_str(), "rb"));
    check(file != nullptr);
    korvo::stream::DirectoryLines lines(file.get());
    std::string line;
    size_t taken = 0;
    while (lines.next(line)) {
        ++taken;
        check(line.size() <= 1023 && line.find('\n') == std::string::npos);
        check(line.empty() || line[0] != '#');
        check(bytes.find(line) != std::string::npos);
    }
    size_t input_lines = 1;
    for (const char c : bytes)
        input_lines += c == '\n';
    check(taken + static_cast<size_t>(lines.skipped()) <= input_lines);
    return 0;
}
