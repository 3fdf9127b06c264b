// SHA-256 through OpenSSL's libcrypto, loaded at the first digest rather
// than linked: loading it binds a few thousand of its own symbols, about
// 1.5 ms of CPU at every start of the program, while only the commands that
// meet a segment's digest hash anything. It is opened by its versioned name
// with dlopen: KesRtlLoad finds libraries by a short name with ".so" added,
// which a versioned name is not.
#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>

#include <stdexcept>
#include <string>

#include "sha256.hpp"

#ifndef OPENSSL_VERSION_MAJOR
#error "OpenSSL 3 or later is needed (its libcrypto is loaded by its major version)"
#endif

namespace korvo::cli {

namespace {

#define KORVO_SHA256_TEXT(value) #value
#define KORVO_SHA256_NUMBER(value) KORVO_SHA256_TEXT(value)
// The library of the headers this file was built with.
constexpr const char *kCryptoLibrary = "libcrypto.so." KORVO_SHA256_NUMBER(OPENSSL_VERSION_MAJOR);

// libcrypto's entry points, found once; `failure` says why they are not.
// A library that has them stays loaded until the process ends.
struct Crypto {
    decltype(&EVP_MD_CTX_new) context_new = nullptr;
    decltype(&EVP_MD_CTX_free) context_free = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_DigestInit_ex) init = nullptr;
    decltype(&EVP_DigestUpdate) update = nullptr;
    decltype(&EVP_DigestFinal_ex) finish = nullptr;
    std::string failure;
};

template <typename Function>
bool find(void *library, const char *name, Function &function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

Crypto load_crypto() {
    Crypto crypto;
    void *library = dlopen(kCryptoLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *why = dlerror();
        crypto.failure = why != nullptr ? why : kCryptoLibrary;
        return crypto;
    }
    if (!find(library, "EVP_MD_CTX_new", crypto.context_new) ||
        !find(library, "EVP_MD_CTX_free", crypto.context_free) ||
        !find(library, "EVP_sha256", crypto.sha256) ||
        !find(library, "EVP_DigestInit_ex", crypto.init) ||
        !find(library, "EVP_DigestUpdate", crypto.update) ||
        !find(library, "EVP_DigestFinal_ex", crypto.finish)) {
        dlclose(library);
        crypto = Crypto{};
        crypto.failure = std::string(kCryptoLibrary) + " lacks the EVP digest functions";
    }
    return crypto;
}

const Crypto &crypto() {
    static const Crypto loaded = load_crypto();
    return loaded;
}

}  // namespace

struct Sha256::Context {
    struct Free {
        void operator()(EVP_MD_CTX *context) const { crypto().context_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> evp;
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    const Crypto &evp = crypto();
    if (!evp.failure.empty())
        throw std::runtime_error("SHA-256 is not available: " + evp.failure);
    context_->evp.reset(evp.context_new());
    if (!context_->evp || evp.init(context_->evp.get(), evp.sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256 &&) noexcept = default;
Sha256 &Sha256::operator=(Sha256 &&) noexcept = default;

void Sha256::update(const void *data, size_t length) {
    crypto().update(context_->evp.get(), data, length);
}

std::vector<uint8_t> Sha256::finish() {
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    crypto().finish(context_->evp.get(), digest.data(), &length);
    digest.resize(length);
    return digest;
}

}  // namespace korvo::cli
