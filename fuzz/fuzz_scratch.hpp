// What the harnesses set up around an input, the same way on every host:
// scratch folders and files through std::filesystem, environment variables
// through the C runtime's own call. The names returned belong to the
// harness, which removes what it made. One thread per harness.
#pragma once

#include <stdlib.h>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"

namespace korvo::fuzz {

// A new folder in the system's temporary folder, named `prefix` and a
// random suffix.
inline std::string make_scratch_directory(const std::string &prefix) {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / (prefix + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error))
            return candidate.string();
    }
    check(false);
    return {};
}

// A scratch folder for a whole run of a harness, removed when the run ends.
// A harness keeps one as a function-local static, made on its first input.
class RunScratch {
  public:
    explicit RunScratch(const std::string &prefix) : folder(make_scratch_directory(prefix)) {}
    ~RunScratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    RunScratch(const RunScratch &) = delete;
    RunScratch &operator=(const RunScratch &) = delete;

    // The path of the entry `name` in the folder.
    std::string file(const std::string &name) const { return folder + "/" + name; }

    const std::string folder;
};

// Sets (or, with an empty value, where the host allows no empty value,
// removes) an environment variable of the process.
inline void set_environment(const char *name, const char *value) {
#if defined(_WIN32)
    check(_putenv_s(name, value) == 0);
#else
    check(::setenv(name, value, 1) == 0);
#endif
}

// Replaces the file at `path` with exactly `bytes`.
inline void write_bytes(const std::string &path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    check(static_cast<bool>(out));
}

// A file that holds each input in turn, named by `path`: on Linux a memory
// file reached through /proc/self/fd, so that no disk is touched; elsewhere
// a file in a scratch folder that goes with the object.
class InputFile {
  public:
    InputFile() {
#if defined(__linux__)
        fd_ = ::memfd_create("korvo-fuzz", MFD_CLOEXEC);
        check(fd_ >= 0);
        path = "/proc/self/fd/" + std::to_string(fd_);
#else
        folder_ = make_scratch_directory("korvo_fuzz_input_");
        path = folder_ + "/input";
#endif
    }
    ~InputFile() {
#if defined(__linux__)
        ::close(fd_);
#else
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
#endif
    }
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    void fill(const void *data, size_t size) {
#if defined(__linux__)
        check(::ftruncate(fd_, 0) == 0);
        check(size == 0 || ::pwrite(fd_, data, size, 0) == static_cast<ssize_t>(size));
#else
        write_bytes(path, std::string_view(static_cast<const char *>(data), size));
#endif
    }

    std::string path;

  private:
#if defined(__linux__)
    int fd_ = -1;
#else
    std::string folder_;
#endif
};

}  // namespace korvo::fuzz
