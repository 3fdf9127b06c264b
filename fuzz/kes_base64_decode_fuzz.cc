// Decode of any text. Spreading the text out with a space after every
// character must not change the bytes (and takes every group through the
// careful path instead of the fast one), and the bytes must come back
// unchanged through Encode and Decode.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kes/kes_base64.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t length) {
    if (length > (1u << 20))
        return 0;
    const char *text = reinterpret_cast<const char *>(input);
    const std::string data = decode(text, length);

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
