// Base64 of 16 MiB and the tag helpers on an entry record, each timed next to
// memcpy of the same bytes (counter x_limit: times slower than memcpy).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/kes_bench_timing.hpp"
#include "kes/kes_base64.h"
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

void BM_Memcpy16MiB(benchmark::State &state) {
    std::vector<unsigned char> target(kDataSize);
    for (auto _ : state) {
        std::memcpy(target.data(), data().data(), kDataSize);
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataSize));
}

void BM_Encode16MiB(benchmark::State &state) {
    std::vector<unsigned char> target(kDataSize);
    korvo::bench::timeAgainstLimit(
        state,
        [&] {
            char *out = nullptr;
            uint32_t length = 0;
            Encode(data().data(), kDataSize, &out, &length);
            benchmark::DoNotOptimize(out);
            KesMemoryFree(out);
        },
        [&] {
            std::memcpy(target.data(), data().data(), kDataSize);
            benchmark::DoNotOptimize(target.data());
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataSize));
}

void BM_Decode16MiB(benchmark::State &state) {
    std::vector<char> target(text().size());
    korvo::bench::timeAgainstLimit(
        state,
        [&] {
            KesStatus status;
            unsigned char *out = nullptr;
            uint32_t length = 0;
            Decode(&status, text().data(), static_cast<uint32_t>(text().size()), &out, &length);
            benchmark::DoNotOptimize(out);
            KesMemoryFree(out);
        },
        [&] {
            std::memcpy(target.data(), text().data(), text().size());
            benchmark::DoNotOptimize(target.data());
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataSize));
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
    korvo::bench::timeAgainstLimit(
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
    korvo::bench::timeAgainstLimit(
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
BENCHMARK(BM_Encode16MiB)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode16MiB)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillEntryRecord)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadEntryRecord)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
