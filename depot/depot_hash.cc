// The hash that names every segment's files: a rotating XOR over the first
// half of the text's bytes, modulo a prime picked once from PowerOf2Primes.
#include <cstdio>
#include <cstring>

#include "depot/depot_operation.hpp"
#include "depot/depot_store.h"
#include "depot/depot_trace.hpp"
#include "kes/kes_memory.h"

using korvo::depot::FillStatus;
using korvo::depot::OperationGuard;

namespace {

// The modulus once TableSize has been looked at: the first entry from 15
// down to 1 (entry 0 is never taken) below TableSize. When none is, the
// modulus stays as it was.
void FixModulus() {
    if (NearestPrime != 0 && NearestPrime <= TableSize)
        return;
    for (int i = 15; i >= 1; --i) {
        if (PowerOf2Primes[i] < TableSize) {
            NearestPrime = PowerOf2Primes[i];
            return;
        }
    }
}

uint32_t RotateLeft5(uint32_t h) {
    return (h << 5) | (h >> 27);
}

}  // namespace

extern "C" {

const uint32_t PowerOf2Primes[16] = {2,   3,    7,    13,   31,   61,    127,   251,
                                     509, 1021, 2039, 4093, 8191, 16381, 32749, 65521};
uint32_t TableSize = 256;
uint32_t NearestPrime = 0;

KesStatus *DepotHashFunction(KesStatus *status, const char *text, uint32_t *hash) {
    OperationGuard op("DepotHashFunction");
    FixModulus();
    uint32_t h = 0;
    const size_t length = text == nullptr ? 0 : std::strlen(text);
    for (size_t i = 0; i < (length + 1) / 2; ++i) {
        // Bytes count as signed: 0x80 to 0xFF widen to 0xFFFFFF80 to 0xFFFFFFFF.
        const auto byte =
            static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(text[i])));
        h = RotateLeft5(h ^ byte);
    }
    // A TableSize of 3 or less before the first hash leaves no modulus; the
    // smallest prime of the table keeps buckets to 8-digit names then.
    const uint32_t modulus = NearestPrime != 0 ? NearestPrime : PowerOf2Primes[0];
    if (hash != nullptr)
        *hash = h % modulus;
    op.exit();
    return FillStatus(status, KES_OK, 0, 0);
}

char *DepotFindBucket(const char *id, const char *version) {
    OperationGuard op("DepotFindBucket");
    const size_t idLength = std::strlen(id != nullptr ? id : "");
    const size_t versionLength = std::strlen(version != nullptr ? version : "");
    char *joined = static_cast<char *>(KesMemoryMalloc(idLength + versionLength + 1));
    if (joined == nullptr)
        return nullptr;
    std::memcpy(joined, id != nullptr ? id : "", idLength);
    std::memcpy(joined + idLength, version != nullptr ? version : "", versionLength);
    joined[idLength + versionLength] = '\0';
    KesStatus status;
    uint32_t hash = 0;
    DepotHashFunction(&status, joined, &hash);
    KesMemoryFree(joined);
    char *bucket = static_cast<char *>(KesMemoryMalloc(16));
    if (bucket == nullptr)
        return nullptr;
    std::snprintf(bucket, 16, "%08u", hash);
    op.exit();
    return bucket;
}
}
