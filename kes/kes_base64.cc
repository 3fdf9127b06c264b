// The Base64 codec: the exported functions. The bulk of Encode and Decode
// runs in kernels (kes_base64_kernels.hpp) chosen for the processor: AVX2
// where it has it, portable code elsewhere; both give the same bytes.
#include "kes/kes_base64.h"

#include <cstddef>
#include <cstring>

#include "kes/kes_base64_kernels.hpp"
#include "kes/kes_base64_tables.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_status.hpp"

extern "C" const char Base64Digits[65] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

using korvo::kes::FillStatus;

using namespace korvo::kes::base64;

// The kernels for this processor, chosen on first use.
const Kernels &kernels() {
    static const Kernels &chosen = avx2Supported() ? kAvx2Kernels : kScalarKernels;
    return chosen;
}

template <typename Byte>
void allocateWork(Byte **buffer, uint32_t *capacity, uint32_t *count, uint32_t need) {
    if (buffer == nullptr || capacity == nullptr || count == nullptr)
        return;
    if (*capacity < need) {
        KesMemoryFree(*buffer);
        *buffer = nullptr;
        *capacity = 0;
        const uint64_t size = (uint64_t{need} / 4096 + 1) * 4096;
        if (size <= UINT32_MAX) {
            *buffer = static_cast<Byte *>(KesMemoryMalloc(size));
            if (*buffer != nullptr)
                *capacity = static_cast<uint32_t>(size);
        }
    }
    if (*buffer != nullptr)
        std::memset(*buffer, 0, *capacity);
    *count = 0;
}

}  // namespace

extern "C" {

void Encode(const void *data, uint32_t length, char **text, uint32_t *textLength) {
    if (text == nullptr || textLength == nullptr)
        return;
    *text = nullptr;
    *textLength = 0;
    if (data == nullptr || length == 0)
        return;
    const uint64_t characters = 4 * ((uint64_t{length} + 2) / 3);
    if (characters > UINT32_MAX)
        return;
    auto *out = static_cast<char *>(KesMemoryMalloc(characters + 1));
    if (out == nullptr)
        return;
    kernels().encode(static_cast<const unsigned char *>(data), length, out);
    out[characters] = '\0';
    *text = out;
    *textLength = static_cast<uint32_t>(characters);
}

KesStatus *Decode(KesStatus *status, const char *text, uint32_t length, unsigned char **data,
                  uint32_t *dataLength) {
    if (status == nullptr)
        return nullptr;
    if (data == nullptr || dataLength == nullptr)
        return FillStatus(status, KES_INVALID);
    *data = nullptr;
    *dataLength = 0;
    if (length == 0)
        return FillStatus(status, KES_OK);
    if (text == nullptr)
        return FillStatus(status, KES_INVALID);
    auto *out = static_cast<unsigned char *>(KesMemoryMalloc(size_t{length} / 4 * 3 + 8));
    if (out == nullptr)
        return FillStatus(status, KES_NO_MEMORY);
    const size_t produced =
        decodeText(kernels(), reinterpret_cast<const unsigned char *>(text), length, out);
    out[produced] = 0;  // not counted; a convenience for callers that print the bytes
    *data = out;
    *dataLength = static_cast<uint32_t>(produced);
    return FillStatus(status, KES_OK);
}

void EncodeToBuffer(Base64Group group, char *out) {
    if (out != nullptr)
        encodeGroup(group.bytes, group.count, out);
}

int DecodeToBuffer(Base64Group group, unsigned char *out) {
    if (out != nullptr)
        decodeValues(group.bytes, out);
    return 3;
}

void EncodeRaw(unsigned char *out, Base64Group group) {
    if (out == nullptr)
        return;
    const unsigned b0 = group.bytes[0], b1 = group.bytes[1], b2 = group.bytes[2];
    out[0] = static_cast<unsigned char>(b0 >> 2);
    out[1] = static_cast<unsigned char>(((b0 << 4) | (b1 >> 4)) & 63);
    out[2] = static_cast<unsigned char>(((b1 << 2) | (b2 >> 6)) & 63);
    out[3] = static_cast<unsigned char>(b2 & 63);
}

void DecodeRaw(unsigned char *out, Base64Group group) {
    if (out != nullptr)
        decodeValues(group.bytes, out);
}

int IsBadMimeChar(signed char c) {
    return c >= 0 && isWhiteSpace(static_cast<unsigned char>(c));
}

void Clear(Base64Group *group) {
    if (group != nullptr)
        *group = Base64Group{};
}

KesStatus *init(KesStatus *status) {
    return status == nullptr ? nullptr : FillStatus(status, KES_OK);
}

void AllocEncode(char **buffer, uint32_t *capacity, uint32_t *count, uint32_t need) {
    allocateWork(buffer, capacity, count, need);
}

void AllocDecode(unsigned char **buffer, uint32_t *capacity, uint32_t *count, uint32_t need) {
    allocateWork(buffer, capacity, count, need);
}
}
