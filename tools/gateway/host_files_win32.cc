// The gateway peer's file calls on Windows, with the system's SHA-256
// (bcrypt) (see host_files.hpp). Files are read in binary mode and not
// inherited by the method the peer starts.
#include <windows.h>

#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "tools/gateway/host_files.hpp"

namespace korvo::gateway {

int open_segment_file(const std::string &path, std::string *error) {
    const int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        *error = std::strerror(errno);
    return fd;
}

// A read at an offset through the file's handle, which leaves the
// descriptor's own position alone as pread does.
bool read_segment_file(int file, uint8_t *data, std::size_t length, int64_t offset) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    std::size_t done = 0;
    while (done < length) {
        const uint64_t at = static_cast<uint64_t>(offset) + done;
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        const std::size_t left = length - done;
        const DWORD part = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!::ReadFile(handle, data + done, part, &got, &position) || got == 0)
            return false;
        done += got;
    }
    return true;
}

void close_segment_file(int file) {
    if (file >= 0)
        ::_close(file);
}

std::vector<uint8_t> file_sha256(const std::string &path) {
    struct CloseAlgorithm {
        void operator()(void *algorithm) const { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
    };
    struct DestroyHash {
        void operator()(void *hash) const { ::BCryptDestroyHash(hash); }
    };
    struct Close {
        void operator()(int *fd) const { ::_close(*fd); }
    };
    int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        throw std::runtime_error(path + ": cannot be read");
    std::unique_ptr<int, Close> closing(&fd);
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!BCRYPT_SUCCESS(
            ::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        throw std::runtime_error("SHA-256 is not available");
    std::unique_ptr<void, CloseAlgorithm> algorithm(opened);
    BCRYPT_HASH_HANDLE made = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(opened, &made, nullptr, 0, nullptr, 0, 0)))
        throw std::runtime_error("SHA-256 is not available");
    std::unique_ptr<void, DestroyHash> hash(made);
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        const int got = ::_read(fd, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (got < 0)
            throw std::runtime_error(path + ": cannot be read");
        if (got == 0)
            break;
        if (!BCRYPT_SUCCESS(::BCryptHashData(made, buffer.data(), static_cast<ULONG>(got), 0)))
            throw std::runtime_error(path + ": cannot be read");
    }
    std::vector<uint8_t> digest(32);
    if (!BCRYPT_SUCCESS(
            ::BCryptFinishHash(made, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw std::runtime_error("SHA-256 is not available");
    return digest;
}

std::string full_path(const std::string &path) {
    const DWORD needed = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return "";
    std::string full(needed, '\0');
    const DWORD written = ::GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed)
        return "";
    full.resize(written);
    return full;
}

}  // namespace korvo::gateway
