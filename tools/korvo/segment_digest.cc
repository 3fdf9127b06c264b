#include "segment_digest.hpp"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

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

bool Sha256::update_from(int fd, uint64_t length) {
    std::vector<char> buffer(1 << 20);
    uint64_t at = 0;
    while (at < length) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - at));
        const ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        update(buffer.data(), static_cast<size_t>(got));
        at += static_cast<uint64_t>(got);
    }
    return true;
}

std::vector<uint8_t> Sha256::finish() {
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->evp.get(), digest.data(), &length);
    digest.resize(length);
    return digest;
}

std::string hex_text(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

}  // namespace korvo::cli

#include "failure.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"

namespace korvo::cli {

SegmentDigests::SegmentDigests(const DistributionToc &toc)
    : expected_(toc.size()), running_(toc.size()), unreadable_(toc.size(), false) {
    for (uint32_t i = 0; i < toc.size(); ++i) {
        const OctetList *checksum = nullptr;
        library_call([&] {
            checksum = properties_get_OctetList2(&toc.segment(i), SEGMENT_CHECKSUM_KEY, nullptr);
        });
        if (checksum != nullptr && checksum->length == kSha256Bytes && checksum->buffer != nullptr)
            expected_[i].emplace(checksum->buffer, checksum->buffer + checksum->length);
    }
}

void SegmentDigests::start(const std::vector<SegmentState> &segments, OutputFiles &outputs) {
    for (uint32_t i = 0; i < expected_.size(); ++i) {
        if (!expected_[i])
            continue;
        running_[i].emplace();
        if (!running_[i]->update_from(outputs.descriptor(i), segments[i].kept))
            unreadable_[i] = true;
    }
}

void SegmentDigests::bytes(uint32_t i, const char *data, size_t length) {
    if (running_[i])
        running_[i]->update(data, length);
}

std::vector<SegmentDigests::Mismatch> SegmentDigests::finish(
    const std::vector<SegmentState> &segments) {
    std::vector<Mismatch> mismatches;
    for (uint32_t i = 0; i < expected_.size(); ++i) {
        if (!running_[i] || !segments[i].complete())
            continue;
        std::vector<uint8_t> got = running_[i]->finish();
        running_[i].reset();
        if (got == *expected_[i] && !unreadable_[i])
            ++verified_;
        else
            mismatches.push_back(
                {i, hex_text(*expected_[i]),
                 unreadable_[i] ? "an output that could not be read back" : hex_text(got)});
    }
    return mismatches;
}

}  // namespace korvo::cli
