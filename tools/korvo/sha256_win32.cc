#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <stdexcept>

#include "sha256.hpp"

namespace korvo::cli {

// The system's SHA-256 provider and one hash object of it.
struct Sha256::Context {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Context() {
        if (hash != nullptr)
            BCryptDestroyHash(hash);
        if (algorithm != nullptr)
            BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&context_->algorithm, BCRYPT_SHA256_ALGORITHM,
                                                    nullptr, 0)) ||
        !BCRYPT_SUCCESS(
            BCryptCreateHash(context_->algorithm, &context_->hash, nullptr, 0, nullptr, 0, 0)))
        throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256 &&) noexcept = default;
Sha256 &Sha256::operator=(Sha256 &&) noexcept = default;

void Sha256::update(const void *data, size_t length) {
    auto *bytes = static_cast<PUCHAR>(const_cast<void *>(data));
    while (length > 0) {
        const ULONG part = static_cast<ULONG>(length > 0x40000000 ? 0x40000000 : length);
        BCryptHashData(context_->hash, bytes, part, 0);
        bytes += part;
        length -= part;
    }
}

std::vector<uint8_t> Sha256::finish() {
    std::vector<uint8_t> digest(kSha256Bytes);
    BCryptFinishHash(context_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    return digest;
}

}  // namespace korvo::cli
