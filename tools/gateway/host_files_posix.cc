// The gateway peer's file calls on POSIX hosts, with OpenSSL's SHA-256
// (see host_files.hpp).
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "tools/gateway/host_files.hpp"

namespace korvo::gateway {

int open_segment_file(const std::string &path, std::string *error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        *error = std::strerror(errno);
    return fd;
}

bool read_segment_file(int file, uint8_t *data, std::size_t length, int64_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n =
            ::pread(file, data + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void close_segment_file(int file) {
    if (file >= 0)
        ::close(file);
}

std::vector<uint8_t> file_sha256(const std::string &path) {
    struct Close {
        void operator()(int *fd) const { ::close(*fd); }
    };
    struct Free {
        void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(path + ": cannot be read");
    std::unique_ptr<int, Close> closing(&fd);
    std::unique_ptr<EVP_MD_CTX, Free> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw std::runtime_error(path + ": cannot be read");
        if (got == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(got));
    }
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest.data(), &length);
    digest.resize(length);
    return digest;
}

std::string full_path(const std::string &path) {
    char *absolute = ::realpath(path.c_str(), nullptr);
    if (absolute == nullptr)
        return "";
    std::string resolved(absolute);
    std::free(absolute);
    return resolved;
}

}  // namespace korvo::gateway
