// Decode of any text. Spreading the text out with a space after every
// character must not change the bytes (and takes every group through the
// careful path instead of the fast one), and the bytes must come back
// unchanged through Encode and Decode. The AVX2 kernels (where the
// processor has them) must give the bytes the portable ones give, for the
// text as it is and for the text cut into lines of one length and break
// (taken from its first byte), which the AVX2 loop takes a line at a time
// until a line is not like the others.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kes/kes_base64.h"
#include "kes/kes_base64_kernels.hpp"
#include "kes/kes_memory.h"

namespace {

std::string decode(const char *text, size_t length) {
    KesStatus status{-1, -1, -1};
    unsigned char *data = nullptr;
    uint32_t dataLength = 0;
    Decode(&status, text, static_cast<uint32_t>(length), &data, &dataLength);
    if (status.code != 0 || status.osError != 0 || status.step != 0)
        std::abort();
    if ((data != nullptr) != (length > 0))
        std::abort();
    std::string result(reinterpret_cast<char *>(data), dataLength);
    KesMemoryFree(data);
    return result;
}

std::string decodeWith(const korvo::kes::base64::Kernels &kernels, const std::string &text) {
    std::vector<unsigned char> out(text.size() / 4 * 3 + 8);
    const size_t length = korvo::kes::base64::decodeText(
        kernels, reinterpret_cast<const unsigned char *>(text.data()), text.size(), out.data());
    return std::string(reinterpret_cast<const char *>(out.data()), length);
}

void compareKernels(const std::string &text) {
    using namespace korvo::kes::base64;
    if (avx2Supported() && decodeWith(kAvx2Kernels, text) != decodeWith(kScalarKernels, text))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t length) {
    if (length > (1u << 20))
        return 0;
    const char *text = reinterpret_cast<const char *>(input);
    const std::string data = decode(text, length);

    if (length > 0) {
        const std::string raw(text, length);
        compareKernels(raw);
        const size_t line = 32 + 4 * (input[0] % 16);
        const char *const breaks[] = {"\r\n", "\n", "\r", " "};
        std::string lines;
        for (size_t at = 1; at < length; at += line)
            lines += raw.substr(at, line) + breaks[(input[0] >> 4) % 4];
        compareKernels(lines);
    }

    std::string spread;
    for (size_t i = 0; i < length; ++i)
        spread += {text[i], ' '};
    if (decode(spread.data(), spread.size()) != data)
        std::abort();

    char *encoded = nullptr;
    uint32_t encodedLength = 0;
    Encode(data.data(), static_cast<uint32_t>(data.size()), &encoded, &encodedLength);
    if (encodedLength != (data.size() + 2) / 3 * 4)
        std::abort();
    if (encoded != nullptr && encoded[encodedLength] != '\0')
        std::abort();
    const std::string again = decode(encoded, encodedLength);
    KesMemoryFree(encoded);
    if (again != data)
        std::abort();
    return 0;
}
