// Test support shared by the CDS client's tests and the CDS tests: a scratch
// directory, environment variables set for one test, a recorder of the
// client's completion callbacks, and bounded waits. Nothing here sleeps to
// synchronise: waits poll a condition until it holds or the time is up, so a
// fault fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cds/client/sha256.hpp"
#include "tests/support/test_host.hpp"

namespace cds_test {

inline constexpr std::chrono::seconds kBoundedWait{30};

// Whether the tests run under Wine, whose WinHTTP differs from Windows' in
// what a few tests look at (they say which and skip).
inline bool under_wine() {
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

class ScratchDir {
  public:
    ScratchDir() {
        path_ =
            korvo::test::makeScratchDirectory(std::filesystem::temp_directory_path(), "cds-test-");
        EXPECT_FALSE(path_.empty()) << "no scratch directory";
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for the object's
// life.
class ScopedEnv {
  public:
    ScopedEnv(const char *name, std::optional<std::string> value) : name_(name) {
        if (const char *old = std::getenv(name))
            old_ = old;
        korvo::test::setEnvironmentVariable(name, value ? value->c_str() : nullptr);
    }
    ~ScopedEnv() { korvo::test::setEnvironmentVariable(name_, old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

inline std::string read_file(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void write_file(const std::string &path, const std::string &text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// Bytes that differ from package to package and from place to place.
inline std::string package_bytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t state = 2654435761u * (seed + 1);
    for (char &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Polls `condition` until it holds or `limit` has passed.
inline bool eventually(const std::function<bool()> &condition,
                       std::chrono::milliseconds limit = kBoundedWait) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Every file under `root`, relative to it. The client may remove files
// while they are listed (a stopped download's part): the names are taken
// as listed, without asking the file system again.
inline std::vector<std::string> files_under(const std::string &root) {
    std::vector<std::string> files;
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (!it->is_directory(ignored))
            files.push_back(it->path().lexically_relative(root).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The client's part of `home` for the server `server_url` ("http://host:port")
// and the user name `user` (nullptr: calls without credentials):
// <home>/servers/<first 32 hex digits of SHA-256("<server_url>\n<user or ->")>.
inline std::string server_root(const std::string &home, const std::string &server_url,
                               const char *user = nullptr) {
    const std::string key = server_url + "\n" + (user != nullptr ? user : "-");
    return std::filesystem::weakly_canonical(home).string() + "/servers/" +
           cdsclient::hex_text(cdsclient::Sha256::of(key)).substr(0, 32);
}

// Where the client keeps package `id` of that server and user name.
inline std::string cached_package(const std::string &home, const std::string &server_url,
                                  const std::string &id, const char *user = nullptr) {
    return server_root(home, server_url, user) + "/cache/files/1/" + id + "-1";
}

// The packages the client holds under `home`, whatever their server, each
// as "cache/files/1/<id>-1".
inline std::vector<std::string> held_packages(const std::string &home) {
    std::vector<std::string> held;
    for (const std::string &file : files_under(home + "/servers")) {
        const size_t cut = file.find("/cache/files/1/");
        if (cut != std::string::npos)
            held.push_back(file.substr(cut + 1));
    }
    std::sort(held.begin(), held.end());
    return held;
}

// What the client's completion callbacks reported, from whichever thread.
struct Completion {
    int32_t status = 0;
    std::thread::id thread;
    int calls = 0;
};

class Completions {
  public:
    static Completions &instance() {
        static Completions completions;
        return completions;
    }
    // The callback to hand to DownloadFile.
    static void record(uint32_t handle, int32_t status) { instance().add(handle, status); }

    // The completion of `handle`, once it came (bounded wait).
    std::optional<Completion> wait_for(uint32_t handle,
                                       std::chrono::milliseconds limit = kBoundedWait) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, limit, [&] { return seen_.count(handle) != 0; }))
            return std::nullopt;
        return seen_[handle];
    }
    std::optional<Completion> seen(uint32_t handle) {
        std::lock_guard lock(mutex_);
        const auto found = seen_.find(handle);
        if (found == seen_.end())
            return std::nullopt;
        return found->second;
    }

  private:
    void add(uint32_t handle, int32_t status) {
        std::lock_guard lock(mutex_);
        Completion &completion = seen_[handle];
        completion.status = status;
        completion.thread = std::this_thread::get_id();
        ++completion.calls;
        arrived_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<uint32_t, Completion> seen_;
};

}  // namespace cds_test
