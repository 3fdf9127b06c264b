// Base64 of 16 MiB and the tag helpers on an entry record, each timed next to
// memcpy of the same bytes (counter x_limit: times slower than memcpy).
// Base64 runs as the library runs it, with its portable kernels alone, and
// with OpenSSL's codec in the same program.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/kes_bench_timing.hpp"
#include "kes/kes_base64.h"
#include "kes/kes_base64_kernels.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_tag.h"

namespace {

constexpr size_t kDataSize = 16u << 20;

const std::vector<unsigned char> &data() {
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> random(kDataSize);
        std::mt19937_64 generator(1);
        for (auto &byte : random)
            byte = static_cast<unsigned char>(generator());
        return random;
    }();
    return bytes;
}

const std::string &text() {
    static const std::string encoded = [] {
        char *out = nullptr;
        uint32_t length = 0;
        Encode(data().data(), kDataSize, &out, &length);
        std::string copy(out, length);
        KesMemoryFree(out);
        return copy;
    }();
    return encoded;
}

// The text with MIME line breaks: 76 characters, then CR LF.
const std::string &brokenText() {
    static const std::string broken = [] {
        std::string lines;
        for (size_t at = 0; at < text().size(); at += 76) {
            lines.append(text(), at, 76);
            lines += "\r\n";
        }
        return lines;
    }();
    return broken;
}

// What a user would pick instead: OpenSSL's Base64, whole blocks (no white
// space) or a decoding context that skips line breaks. Like Encode and
// Decode, each allocates its output.
unsigned char *opensslEncode(const unsigned char *data, size_t length) {
    auto *out = static_cast<unsigned char *>(std::malloc((length + 2) / 3 * 4 + 1));
    EVP_EncodeBlock(out, data, static_cast<int>(length));
    return out;
}

unsigned char *opensslDecode(const std::string &text) {
    auto *out = static_cast<unsigned char *>(std::malloc(text.size() / 4 * 3 + 1));
    EVP_DecodeBlock(out, reinterpret_cast<const unsigned char *>(text.data()),
                    static_cast<int>(text.size()));
    return out;
}

unsigned char *opensslDecodeLines(const std::string &text) {
    auto *out = static_cast<unsigned char *>(std::malloc(text.size() / 4 * 3 + 80));
    EVP_ENCODE_CTX *context = EVP_ENCODE_CTX_new();
    EVP_DecodeInit(context);
    int length = 0, last = 0;
    EVP_DecodeUpdate(context, out, &length, reinterpret_cast<const unsigned char *>(text.data()),
                     static_cast<int>(text.size()));
    EVP_DecodeFinal(context, out + length, &last);
    EVP_ENCODE_CTX_free(context);
    return out;
}

// korvo's Encode and Decode as the library runs them (AVX2 where the
// processor has it), and the portable kernels on the same bytes.
unsigned char *korvoEncode(const unsigned char *data, size_t length) {
    char *out = nullptr;
    uint32_t textLength = 0;
    Encode(data, static_cast<uint32_t>(length), &out, &textLength);
    return reinterpret_cast<unsigned char *>(out);
}

unsigned char *korvoDecode(const std::string &text) {
    KesStatus status;
    unsigned char *out = nullptr;
    uint32_t length = 0;
    Decode(&status, text.data(), static_cast<uint32_t>(text.size()), &out, &length);
    return out;
}

namespace kernels = korvo::kes::base64;

unsigned char *scalarEncode(const unsigned char *data, size_t length) {
    auto *out = static_cast<unsigned char *>(std::malloc((length + 2) / 3 * 4 + 1));
    kernels::kScalarKernels.encode(data, length, reinterpret_cast<char *>(out));
    return out;
}

unsigned char *scalarDecode(const std::string &text) {
    auto *out = static_cast<unsigned char *>(std::malloc(text.size() / 4 * 3 + 8));
    kernels::decodeText(kernels::kScalarKernels,
                        reinterpret_cast<const unsigned char *>(text.data()), text.size(), out);
    return out;
}

void release(unsigned char *block, bool kesBlock) {
    if (kesBlock)
        KesMemoryFree(block);
    else
        std::free(block);
}

void BM_Memcpy16MiB(benchmark::State &state) {
    std::vector<unsigned char> target(kDataSize);
    for (auto _ : state) {
        std::memcpy(target.data(), data().data(), kDataSize);
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataSize));
}

// Encoding 16 MiB, its output allocated and freed each time (the freeing
// untimed), next to memcpy of the 16 MiB.
void BM_Encode16MiB(benchmark::State &state,
                    unsigned char *(*encode)(const unsigned char *, size_t), bool kesBlock) {
    std::vector<unsigned char> target(kDataSize);
    unsigned char *out = nullptr;
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            out = encode(data().data(), kDataSize);
            benchmark::DoNotOptimize(out);
        },
        [&] { korvo::bench::copyBytes(target.data(), data().data(), kDataSize); },
        [&] { release(out, kesBlock); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataSize));
}

// Decoding a text, next to memcpy of the text.
void decodeAgainstCopy(benchmark::State &state, const std::string &input,
                       unsigned char *(*decode)(const std::string &), bool kesBlock) {
    std::vector<char> target(input.size());
    unsigned char *out = nullptr;
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            out = decode(input);
            benchmark::DoNotOptimize(out);
        },
        [&] { korvo::bench::copyBytes(target.data(), input.data(), input.size()); },
        [&] { release(out, kesBlock); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataSize));
}

void BM_Decode16MiB(benchmark::State &state, unsigned char *(*decode)(const std::string &),
                    bool kesBlock) {
    decodeAgainstCopy(state, text(), decode, kesBlock);
}

// The same text broken into MIME lines.
void BM_DecodeLines16MiB(benchmark::State &state, unsigned char *(*decode)(const std::string &),
                         bool kesBlock) {
    decodeAgainstCopy(state, brokenText(), decode, kesBlock);
}

// An entry record as the depot writes it, with a property list of a few
// hundred bytes.
const char *const kTemplate =
    "<<id></id><version></version><reference_count></reference_count><state></state>"
    "<checksum></checksum><deadline></deadline><location></location>"
    "<properties></properties>>";

struct Field {
    const char *name;
    std::string value;
};

const std::vector<Field> &fields() {
    static const std::vector<Field> values = [] {
        std::string properties(240, '\0');
        for (size_t i = 0; i < properties.size(); ++i)
            properties[i] = static_cast<char>(i * 7);
        char *encoded = nullptr;
        uint32_t length = 0;
        Encode(properties.data(), static_cast<uint32_t>(properties.size()), &encoded, &length);
        std::vector<Field> list = {{"id", "distribution-segment-0042"},
                                   {"version", "1.0.3"},
                                   {"reference_count", "2"},
                                   {"state", "1"},
                                   {"checksum", "-5"},
                                   {"deadline", "1199145600"},
                                   {"location", "/var/korvo/depot/00000108.0.dat"},
                                   {"properties", std::string(encoded, length)}};
        KesMemoryFree(encoded);
        return list;
    }();
    return values;
}

constexpr int kRecordsPerIteration = 1000;

// Fills the template into `buffer` (large enough); returns the record length.
size_t fillRecord(char *buffer) {
    const size_t templateLength = std::strlen(kTemplate);
    std::memcpy(buffer, kTemplate, templateLength + 1);
    char *textEnd = buffer + templateLength - 1;
    for (const Field &field : fields()) {
        const TagScope result =
            addContentToTag(buffer, textEnd, nullptr, buffer + 1023, field.name, field.value.data(),
                            field.value.data() + field.value.size() - 1, 1);
        textEnd = result.last;
    }
    textEnd[1] = '\0';
    return static_cast<size_t>(textEnd - buffer) + 1;
}

void BM_FillEntryRecord(benchmark::State &state) {
    char buffer[1024], target[1024];
    const size_t recordLength = fillRecord(buffer);
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            for (int i = 0; i < kRecordsPerIteration; ++i) {
                fillRecord(buffer);
                benchmark::DoNotOptimize(buffer);
            }
        },
        [&] {
            for (int i = 0; i < kRecordsPerIteration; ++i) {
                std::memcpy(target, buffer, recordLength);
                benchmark::DoNotOptimize(target);
            }
        });
    state.SetItemsProcessed(state.iterations() * kRecordsPerIteration);
    state.counters["record_bytes"] = static_cast<double>(recordLength);
}

void BM_ReadEntryRecord(benchmark::State &state) {
    char buffer[1024], target[1024];
    const size_t recordLength = fillRecord(buffer);
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            for (int i = 0; i < kRecordsPerIteration; ++i) {
                for (const Field &field : fields()) {
                    benchmark::DoNotOptimize(getTagScope(field.name, buffer, nullptr, 0));
                }
            }
        },
        [&] {
            for (int i = 0; i < kRecordsPerIteration; ++i) {
                std::memcpy(target, buffer, recordLength);
                benchmark::DoNotOptimize(target);
            }
        });
    state.SetItemsProcessed(state.iterations() * kRecordsPerIteration);
}

BENCHMARK(BM_Memcpy16MiB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode16MiB, korvo, korvoEncode, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode16MiB, portable, scalarEncode, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode16MiB, openssl, opensslEncode, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode16MiB, korvo, korvoDecode, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode16MiB, portable, scalarDecode, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode16MiB, openssl, opensslDecode, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeLines16MiB, korvo, korvoDecode, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeLines16MiB, portable, scalarDecode, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeLines16MiB, openssl, opensslDecodeLines, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillEntryRecord)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadEntryRecord)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
