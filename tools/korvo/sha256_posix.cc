#include <openssl/evp.h>

#include <stdexcept>

#include "sha256.hpp"

namespace korvo::cli {

struct Sha256::Context {
    struct Free {
        void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> evp{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (!context_->evp || EVP_DigestInit_ex(context_->evp.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256 &&) noexcept = default;
Sha256 &Sha256::operator=(Sha256 &&) noexcept = default;

void Sha256::update(const void *data, size_t length) {
    EVP_DigestUpdate(context_->evp.get(), data, length);
}

std::vector<uint8_t> Sha256::finish() {
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->evp.get(), digest.data(), &length);
    digest.resize(length);
    return digest;
}

}  // namespace korvo::cli
